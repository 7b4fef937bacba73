// Catalogue scan of a Data Pump dump.
//
// expdp writes one XML document per object among the encoded rows. Every
// "<" of the file is looked at (memchr over the mapped file, so no block of
// the file is ever passed over unexamined); where "<?xml version" follows,
// narrow or as UTF-16BE, the document is collected piece by piece and its
// object identified by the metadata parser.
//
// Tables with rows have a narrow STRMTABLE_T document right before their
// rows. Tables without rows are known only from their TABLE_T document, which
// expdp stores as a value of the master table's XML_CLOB column (UTF-16BE in
// AL32UTF8 databases); what follows such a document is the master table's
// next row, so a TABLE_T document never marks the start of row data.
#include "oracle_dump/ora_dump_pump_scan.h"

#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_parser.h"
#include "oracle_dump/ora_dump_pump_reader_th.h"
#include "oracle_dump/ora_dump_reader.h"
#include "oracle_dump/ora_dump_reader_th.h"
#include "oracle_dump/ora_dump_search.h"
#include "oracle_dump/ora_dump_stream.h"

namespace {

const char k_xml_start[] = "?xml version";
// Flags of one byte value, for ora_dump_stream::find_byte_near.
struct one_byte {
  bool flags[256] = {};
  constexpr explicit one_byte(uint8_t b) { flags[b] = true; }
};
constexpr one_byte k_zero_byte_flags(0), k_question_mark_flags('?');
const bool* const k_zero_byte = k_zero_byte_flags.flags;
const bool* const k_question_mark = k_question_mark_flags.flags;
const char k_rowset[] = "<ROWSET><ROW>";

// Bytes at p read as narrow text equal `text`.
bool narrow_at(const uint8_t* p, size_t avail, const char* text) {
  const size_t n = std::strlen(text);
  return avail >= n && std::memcmp(p, text, n) == 0;
}

// Bytes at p read as UTF-16 units (low byte first, from the second byte of a
// big-endian text) equal `text`, letters compared without case.
bool wide_at(const uint8_t* p, size_t avail, const char* text, bool no_case) {
  const size_t n = std::strlen(text);
  if (avail < 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t a = p[2 * i], b = static_cast<uint8_t>(text[i]);
    if (no_case && a >= 'a' && a <= 'z') a = static_cast<uint8_t>(a - 32);
    if (no_case && b >= 'a' && b <= 'z') b = static_cast<uint8_t>(b - 32);
    if (a != b || p[2 * i + 1] != 0) return false;
  }
  return true;
}

// The first 70 bytes after the "<" of a document, as character units: one
// byte each for narrow text; for UTF-16BE the low bytes (the "<" found is a
// low byte, so every unit's high byte comes first). A unit outside ASCII
// reads as 0.
std::string head_units(const uint8_t* p, size_t avail, int kind) {
  const size_t window = avail < 70 ? avail : 70;
  std::string u;
  if (kind == 1) return std::string(reinterpret_cast<const char*>(p), window);
  for (size_t i = 0; i + 1 < window; i += 2) u += p[i] == 0 ? static_cast<char>(p[i + 1]) : '\0';
  return u;
}

// How a document that opens with "<?xml version" goes on. Oracle writes
// its metadata as <?xml version="1.0"?><ROWSET><ROW> and nothing between
// the declaration and the ROWSET. Text that only contains "<ROWSET><ROW>"
// somewhere near its start (in a comment, behind a DOCTYPE) is no Oracle
// metadata: it is a crafted or damaged block, refused with an error. Other
// XML (documents stored in CLOB values) is passed over without a word.
enum class xml_head { metadata, not_metadata, refused_doctype, refused_other };

xml_head classify_head(const std::string& u) {
  const size_t decl_end = u.find("?>");
  if (decl_end != std::string::npos && u.find('<') > decl_end) {
    size_t i = decl_end + 2;
    while (i < u.size() && (u[i] == ' ' || u[i] == '\t' || u[i] == '\r' || u[i] == '\n')) ++i;
    if (u.compare(i, std::strlen(k_rowset), k_rowset) == 0) return xml_head::metadata;
  }
  if (u.find(k_rowset) == std::string::npos) return xml_head::not_metadata;
  return u.find("<!DOCTYPE") != std::string::npos ? xml_head::refused_doctype
                                                  : xml_head::refused_other;
}

// Where a table's rows begin after its stream document: 0x00 padding, then
// the first record's marker.
bool is_stop_symbol(uint8_t c) {
  return c == 0x08 || c == 0x09 || c == 0x0C || c == 0x18 || c == 0x1C || c == 0x3C;
}

}  // namespace

std::unique_ptr<ora_dump_file> open_datapump_catalogue(ora_dump_reader& reader,
                                                       const tk_wstring& path,
                                                       std::shared_ptr<ora_dump_stream> stream,
                                                       int major, int minor) {
  log_message(1, "Reading tables");
  std::shared_ptr<ora_dump_reader_th> decoder =
      create_token_handler(reader.charsets(), major, minor, tk_string());
  // Minor versions other than 1 and 2 (x.0, x.3) are Data Pump files too:
  // they must not be read with a classic decoder.
  if (decoder && !std::dynamic_pointer_cast<ora_dump_pump_reader_th>(decoder))
    decoder = std::make_shared<ora_dump_pump_reader_th>(reader.charsets(), major);
  if (!decoder) {
    log_message(3, "Couldn't get propper tocken handlerfor value %d\n", minor);
    reader.set_progress_value(-1);
    throw tk_exception(
        "The program cannot read Oracle dump file. It may be corrupted or does not comply with "
        "Oracle "
        "dump file format.",
        1);
  }
  ora_dump_stream& s = *stream;
  const int64_t size = s.size();

  ora_dump_file::context ctx;
  ctx.dump_path = path;
  ctx.m_file_size = s.size();
  ctx.stream = stream;
  ctx.decoder = decoder;
  ctx.make_decoder = [major](const ora_charsets& cs) -> std::shared_ptr<ora_dump_reader_th> {
    return std::make_shared<ora_dump_pump_reader_th>(cs, major);
  };
  ctx.charsets = &reader.charsets();
  // The header's character set bytes as a short text: all that matters is
  // that it never reads "EXPORT:", which marks classic dumps.
  for (int64_t i = 39; i < 41 && s.byte_at(i) > 0; ++i)
    ctx.m_str_version.push_back(static_cast<char>(s.byte_at(i)));
  ctx.m_pmap_tables = std::make_shared<ora_table_map>();
  ctx.m_pmap_indices = std::make_shared<ora_index_map>();
  // A cache keyed on one file cannot vouch for positions in a set of files.
  ctx.cacheable = reader.m_b_use_cache && reader.m_part_paths.size() <= 1;
  {
    ora_dump_file::context cached;
    if (ctx.cacheable && cached.load_if(path) && cached.m_str_version == ctx.m_str_version &&
        ora_cache_fits_dump(cached, tk_u8(path), true)) {
      ctx.m_pmap_tables = cached.m_pmap_tables;
      ctx.m_pmap_indices = cached.m_pmap_indices;
      ctx.m_sequences = std::move(cached.m_sequences);
      ctx.m_str_username = std::move(cached.m_str_username);
      ctx.m_str_tablespacename = std::move(cached.m_str_tablespacename);
      auto db = std::make_unique<ora_dump_file>(ctx);
      s.seek(0);
      reader.set_progress_value(100);
      return db;
    }
  }
  auto db = std::make_unique<ora_dump_file>(ctx);
  ora_table_map& tables = *ctx.m_pmap_tables;

  table_pos* last_stream = nullptr;
  std::vector<uint8_t> payload;
  ora_pump_xml_memo memo;
  // Metadata blocks that end before their closing tag: the file ends inside
  // one (a cut dump) or another block begins first (a damaged one).
  int64_t cut_short = 0;
  int64_t first_cut_short = -1;
  try {
    ora_xml_platform xml_platform;
    ora_dump_parser parser;
    parser.set_global_indices(ctx.m_pmap_indices.get());
    int64_t pos = 0;
    log_message(1, "Right before main cycle (seek_to_symbols)");
    for (;;) {
      // The next "<" that may open a metadata document: followed by the
      // "?" of "<?xml" in narrow text, or preceded by the 00 of a UTF-16
      // text. Any other "<" is passed over without a look.
      const int64_t at = s.find_byte_near('<', k_zero_byte, k_question_mark, pos);
      if (at < 0) {
        s.seek(size);
        break;
      }
      const int64_t after = at + 1;
      s.seek(after);
      reader.set_cur_pos(after);
      pos = after;
      const int64_t lt = after - 1;
      // What follows the "<": enough for the tests below.
      uint8_t head[80];
      const size_t avail = s.read_at(after, head, sizeof head);
      const uint8_t* p = head;
      int kind = 0;
      if (narrow_at(p, avail, k_xml_start)) {
        kind = 1;
      } else if (avail > 1 && lt >= 1 && s.byte_at(lt - 1) == 0 &&
                 wide_at(p + 1, avail - 1, k_xml_start, true)) {
        kind = 2;
      } else {
        continue;
      }
      log_message(1, "__XML_START(_U) found at pos=%lld!!!", static_cast<long long>(after));
      if (last_stream != nullptr) last_stream->v_data_end_pos_for_progress.push_back(after - 2);

      // The 4-byte header in front of the text (a UTF-16 text starts one
      // byte before the "<").
      const int64_t text_start = lt - (kind == 2 ? 1 : 0);
      const int64_t xml_start = text_start - 4;

      const xml_head shape = classify_head(head_units(p, avail, kind));
      if (shape == xml_head::not_metadata) {
        log_message(1, "__XML_ROWSET(_U) not found");
        continue;
      }
      if (shape != xml_head::metadata) {
        const char* why = shape == xml_head::refused_doctype
                              ? "it declares a DOCTYPE, which Oracle never writes"
                              : "text stands between its XML declaration and <ROWSET>, which "
                                "Oracle never writes";
        log_message(3, "Metadata block refused at pos=%lld: %s", static_cast<long long>(lt), why);
        db->add_error(dump_error(tk_string("A metadata block is skipped: ") + why, text_start, 0));
        db->keep_out_of_cache();
        continue;
      }

      int64_t end = 0;
      if (xml_start < 0 || !ora_pump_collect_xml(s, xml_start, kind, payload, end, &memo)) {
        log_message(3, "Incomplete XML block at pos=%lld", static_cast<long long>(lt));
        if (cut_short++ == 0) first_cut_short = text_start;
        continue;
      }
      reader.set_progress(end, size);
      log_message(1, "XML start pos (stage 1): %lld\r\n", static_cast<long long>(after));
      pos = end;

      const std::string text = ora_pump_xml_utf8(payload, reader.charsets());
      const tk_wstring name = parser.parse_database_objects(text.data(), text.size());
      if (!parser.refusal().empty()) {
        db->add_error(dump_error("A metadata block is skipped: " + parser.refusal(), xml_start, 0));
        db->keep_out_of_cache();
      }
      db->append_relationships(parser.relationships());
      if (name.empty()) continue;

      const tk_wstring full_name = parser.owner() + u"." + name;
      tk_wstring key = name;
      auto it = tables.find(name);
      if (it != tables.end() && !it->second.full_name.empty() && it->second.full_name != full_name)
        key = full_name;
      log_message(3, "Table '%s' is found\r\n", tk_u8(key).c_str());
      table_pos& entry = tables[key];
      entry.full_name = full_name;

      const bool strm = parser.kind() == ora_dump_parser::OBJ_STRMTABLE;
      // Of several documents naming one table the longest defines it (a
      // TABLE_T carries constraints a STRMTABLE_T lacks).
      if (entry.start_pos == 0 || entry.end_pos - entry.start_pos < end - xml_start) {
        entry.start_pos = xml_start;
        entry.end_pos = end;
      }
      if (!strm) continue;

      // Rows of a stream document: zero padding, then the first marker.
      int64_t q = end;
      while (s.byte_at(q) == 0) ++q;
      const int stop = s.byte_at(q);
      if (stop < 0 || !is_stop_symbol(static_cast<uint8_t>(stop))) continue;
      log_message(1, "Got stop-symbol: '%c'", stop);
      entry.v_data_start_pos.push_back(xml_start);
      entry.v_data_end_pos.push_back(q);
      last_stream = &entry;
      pos = q + 1;
    }
  } catch (const tk_exception& e) {
    log_message(3, "Couldn't read dump file");
    reader.set_progress_value(-1);
    throw;
  } catch (const std::exception& e) {
    log_message(3, "Couldn't read dump file: %s", e.what());
    reader.set_progress_value(-1);
    throw tk_exception(
        "The program cannot read Oracle dump file. It may be corrupted or does not comply with "
        "Oracle "
        "dump file format.",
        1);
  }
  if (last_stream != nullptr && !last_stream->v_data_end_pos.empty())
    last_stream->v_data_end_pos_for_progress.push_back(size);
  // Reported once, however many there are: what they describe is lost, so
  // the run must not pass for complete.
  if (cut_short > 0) {
    db->add_error(dump_error(
        cut_short == 1
            ? tk_string("A metadata block is cut short (the file ends, or another block begins, "
                        "before its end): the object it describes is skipped")
            : tk_format("%lld metadata blocks are cut short (the file ends, or another block "
                        "begins, before their end): the objects they describe are skipped; the "
                        "first one is at this offset",
                        static_cast<long long>(cut_short)),
        first_cut_short, 0));
    db->keep_out_of_cache();
  }

  s.seek(0);
  db->init();
  reader.set_progress_value(100);
  return db;
}
