// Fuzz targets over the engine. Inputs reach the dump reader through a
// stream holding exactly the input bytes on the heap, so a read one byte past
// the end is an AddressSanitizer report rather than a look into the zero
// tail of a mapped page.
#include "fuzz_targets.h"

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "TK/tk_exc.h"
#include "UDB/udb_conv.h"
#include "UDB/udb_db.h"
#include "UDB/udb_prof.h"
#include "console/tab_file.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_parser.h"
#include "oracle_dump/ora_dump_reader.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

// Xerces stays initialised for the whole process: initialising it per input
// would cost more than most inputs.
void keep_xml_platform() { static ora_xml_platform platform; }

// Opens the bytes as a dump; null when the reader refuses them.
std::unique_ptr<ora_dump_file> open_dump(ora_dump_reader& reader, const uint8_t* data,
                                         size_t size) {
  keep_xml_platform();
  reader.m_b_qualify_names = true;
  // No cache file is read or written for an input.
  reader.m_b_use_cache = false;
  try {
    return reader.open_stream(u"fuzz.dmp", ora_dump_stream::copy_of(data, size));
  } catch (const tk_exception&) {
    return nullptr;
  }
}

// Walks a table the way the conversion driver does; a bad record is
// skipped, a bad table ends the walk. Each row consumes input, so the
// bound is only a guard against a reader that stops advancing.
void walk_rows(udb_recordset& table, size_t size) {
  size_t guard = size + 16;
  table.reset();
  while (!table.is_eof() && guard-- > 0) {
    try {
      const udb_record* record = table.get_item1();
      if (record == nullptr) break;
      std::string text;
      for (const udb_field& field : *record) field.append_text_utf8(text);
    } catch (const tk_exception& e) {
      if (e.level() != 0) return;
    }
    table.next();
  }
}

int open_and_walk(const uint8_t* data, size_t size, bool datapump, bool rows) {
  ora_dump_reader reader;
  std::unique_ptr<ora_dump_file> db = open_dump(reader, data, size);
  if (!db) return 0;
  if (rows && reader.m_datapump != datapump) return 0;
  db->take_errors();
  for (const tk_wstring& name : db->get_tables()) {
    try {
      std::unique_ptr<udb_recordset> table = db->get_table(name, 1);
      if (table && rows) walk_rows(*table, size);
    } catch (const tk_exception&) {
    }
    db->take_errors();
  }
  return 0;
}

// Copies the input to a buffer of exactly its size (see above).
std::unique_ptr<char[]> exact_copy(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> copy(new char[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(copy.get(), data, size);
  return copy;
}

// A converter with no settings of its own: only the generic keys.
class fuzz_converter : public udb_converter {
 public:
  bool is_ready() override { return true; }
};

bool same_entries(const udb_profile& a, const udb_profile& b) {
  if (a.sections().size() != b.sections().size()) return false;
  for (const auto& [name, entries] : a.sections()) {
    const udb_profile::entry_list& other = b.get_section(name);
    if (other.size() != entries.size()) return false;
    for (size_t i = 0; i < entries.size(); ++i)
      if (other[i].key != entries[i].key || other[i].value != entries[i].value) return false;
  }
  return true;
}

}  // namespace

int talvex_fuzz_dump_open(const uint8_t* data, size_t size) {
  return open_and_walk(data, size, false, false);
}

int talvex_fuzz_classic_rows(const uint8_t* data, size_t size) {
  return open_and_walk(data, size, false, true);
}

int talvex_fuzz_pump_rows(const uint8_t* data, size_t size) {
  return open_and_walk(data, size, true, true);
}

int talvex_fuzz_pump_metadata(const uint8_t* data, size_t size) {
  keep_xml_platform();
  // Exactly the input bytes on the heap, as the parser would get them.
  std::unique_ptr<char[]> xml = exact_copy(data, size);
  ora_index_map indexes;
  ora_dump_parser parser;
  parser.set_global_indices(&indexes);
  parser.parse_database_objects(xml.get(), size);
  ora_dump_table table(nullptr, u"T");
  parser.parse_table_description(xml.get(), size, &table);
  return 0;
}

int talvex_fuzz_table_list(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text = exact_copy(data, size);
  // As the console reads a --tab_file=: text of table names or a refusal.
  const std::string_view content(text.get(), size);
  if (tab_file_is_text(content)) tab_file_names(content);
  return 0;
}

int talvex_fuzz_profile(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> bytes = exact_copy(data, size);
  udb_profile profile;
  try {
    profile.read(std::string_view(bytes.get(), size), "fuzz");
  } catch (const tk_exception&) {
    return 0;
  }
  // A refusal to write what was read is a finding as well: it escapes here.
  const std::string text = profile.to_text();
  udb_profile again;
  again.read(text, "again");
  if (!same_entries(profile, again) || again.to_text() != text) __builtin_trap();

  fuzz_converter converter;
  try {
    converter.load_profile(profile);
  } catch (const tk_exception&) {
  }
  return 0;
}

int talvex_fuzz_context_cache(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> bytes = exact_copy(data, size);
  const auto* image = reinterpret_cast<const uint8_t*>(bytes.get());
  // The image must describe a dump of the size it records (little-endian,
  // after the 4-byte magic), so that size is the one offered.
  uint64_t recorded = 0;
  for (size_t i = 0; i < 8 && 4 + i < size; ++i) recorded |= uint64_t{image[4 + i]} << (8 * i);
  const auto dump_size = static_cast<int64_t>(recorded);
  ora_dump_file::context first;
  if (!first.load_from_bytes(image, size, dump_size)) return 0;
  const std::string written = first.to_bytes(dump_size);
  ora_dump_file::context second;
  if (!second.load_from_bytes(reinterpret_cast<const uint8_t*>(written.data()), written.size(),
                              dump_size) ||
      second.to_bytes(dump_size) != written)
    __builtin_trap();
  return 0;
}

const talvex_fuzz_target talvex_fuzz_targets[] = {
    {"dump_open", talvex_fuzz_dump_open},         {"classic_rows", talvex_fuzz_classic_rows},
    {"pump_rows", talvex_fuzz_pump_rows},         {"pump_metadata", talvex_fuzz_pump_metadata},
    {"table_list", talvex_fuzz_table_list},       {"profile", talvex_fuzz_profile},
    {"context_cache", talvex_fuzz_context_cache}, {nullptr, nullptr},
};
