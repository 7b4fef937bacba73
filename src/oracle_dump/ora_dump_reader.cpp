// Opening a dump: format detection, header, decoder choice, catalogue.
//
// A classic dump begins with a byte, the export client's character set id
// and a text header whose first word (among the first few) is the version
// word "EXPORT:Vnn.nn.nn". Anything else is taken for a Data Pump dump, whose
// binary header starts with its major and minor file version.
#include "oracle_dump/ora_dump_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_pump_scan.h"
#include "oracle_dump/ora_dump_reader_th.h"
#include "oracle_dump/ora_dump_scan.h"
#include "oracle_dump/ora_dump_search.h"
#include "oracle_dump/ora_dump_set.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

const char* const k_cannot_read =
    "The program cannot read Oracle dump file. It may be corrupted or does not comply with Oracle "
    "dump "
    "file format.";
const char* const k_non_leading =
    "This is a non-leading part of multifile dump. The program can extract data from the first "
    "part of "
    "multifile dump only. See 'Troubleshooting' article of the product documentation for solution.";

// Classic export versions this reader knows: exp of Oracle 7 to 23. Older
// exports lay their rows out differently, and a version beyond these is more
// likely a damaged header than a real export.
constexpr int k_classic_first_version = 7;
constexpr int k_classic_last_version = 23;

// "EXPORT:V" followed by a one- or two-digit version and a point: the
// version, or -1 when the word is no version word.
int classic_version(std::string_view word) {
  if (word.size() < 10 || word.substr(0, 8) != "EXPORT:V") return -1;
  int v = 0;
  size_t i = 8;
  for (; i < word.size() && i < 10 && word[i] >= '0' && word[i] <= '9'; ++i)
    v = v * 10 + (word[i] - '0');
  if (i == 8 || i >= word.size() || word[i] != '.') return -1;
  return v;
}

// The version word as it may be shown: printable ASCII only.
std::string printable(std::string_view word) {
  std::string out;
  for (const char c : word) out += c >= 0x20 && c < 0x7F ? c : '?';
  return out;
}

// Every Data Pump file holds its block size (a power of two, 4096 in every
// dump seen) as a big-endian 32-bit number at offset 35. A header without one
// is damaged, and its other fields (the part number above all) mean nothing:
// such a file is reported as damaged, not as a part of a multi-file dump.
void check_datapump_header(const uint8_t* d, size_t n) {
  const uint32_t block =
      (static_cast<uint32_t>(d[35]) << 24) | (d[36] << 16) | (d[37] << 8) | d[38];
  if (block >= 512 && block <= (1u << 20) && (block & (block - 1)) == 0) return;
  tk_string text = tk_format(
      "The dump file is damaged: its Data Pump header breaks at offset 35 (block size %u).", block);
  // The mark of a binary file that went through a UTF-8 text conversion: every
  // byte that was no valid UTF-8 became the replacement character EF BF BD.
  const size_t scan = std::min<size_t>(n, 1u << 16);
  for (size_t i = 0; i + 2 < scan; ++i) {
    if (d[i] == 0xEF && d[i + 1] == 0xBF && d[i + 2] == 0xBD) {
      text += tk_format(
          " From offset %zu it holds UTF-8 replacement characters (EF BF BD): the file was "
          "converted as text on its way here. Use a copy transferred as binary.",
          i);
      break;
    }
  }
  log_message(3, "%s", text.c_str());
  throw tk_exception(text, 1);
}

}  // namespace

ora_dump_reader::ora_dump_reader() = default;
ora_dump_reader::~ora_dump_reader() = default;

std::unique_ptr<ora_dump_file> ora_dump_reader::open(const tk_wstring& path) {
  return open(std::vector<tk_wstring>{path});
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open(const std::vector<tk_wstring>& paths) {
  TK_ASSERT(!paths.empty());
  log_message(2, "ora_dump_reader::open(%s)", tk_u8(paths.front()).c_str());
  set_progress_value(0);
  m_ui_cur_pos = 0;
  m_ui_cur_size = 0;
  m_b_first_part = false;
  m_missing_parts.clear();
  m_part_paths.clear();

  std::vector<tk_string> files;
  for (const tk_wstring& p : paths) {
    const tk_string path = tk_u8(p);
    if (!ora_dump_is_pattern(path)) {
      files.push_back(path);
      continue;
    }
    const std::vector<tk_string> matched = ora_dump_expand_pattern(path);
    log_message(1, "'%s' matches %d files", path.c_str(), static_cast<int>(matched.size()));
    files.insert(files.end(), matched.begin(), matched.end());
  }
  if (files.empty()) {
    log_message(3, "Couldn't open dump file %s", tk_u8(paths.front()).c_str());
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
  const tk_wstring first = tk_u16(files.front());

  ora_dump_part_header header;
  ora_dump_read_part_header(files.front(), header);
  if (files.size() == 1 && !header.multi) {
    std::shared_ptr<ora_dump_stream> stream;
    try {
      stream = ora_dump_stream::open_file(files.front());
    } catch (const tk_exception&) {
      log_message(3, "Couldn't open dump file %s", files.front().c_str());
      set_progress_value(-1);
      throw tk_exception(k_cannot_read, 1);
    }
    m_part_paths = files;
    std::unique_ptr<ora_dump_file> db = open_stream(first, stream);
    if (!m_datapump) return db;
    // The master table lists every file of the job: a first file whose
    // other files hold only table data says so there alone.
    ora_dump_set set;
    try {
      set.resolve(files);
    } catch (const tk_exception& e) {
      log_message(1, "No list of files: %s", e.what());  // a damaged header
      return db;
    }
    check_master_files(*db, set);
    if (!set.is_multi()) return db;
    log_message(3, "The master table lists %d more files of this dump\r\n",
                static_cast<int>(set.missing().size() + set.parts().size() - 1));
    db.reset();
    return open_set(first, set, 1);
  }

  ora_dump_set set;
  try {
    set.resolve(files);
  } catch (const tk_exception&) {
    set_progress_value(-1);
    throw;
  }
  return open_set(first, set, 0);
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_set(const tk_wstring& path, ora_dump_set& set,
                                                         int round) {
  for (const ora_dump_set_part& p : set.parts())
    log_message(3, "Part %d of the dump: '%s' (%lld bytes)\r\n", p.header.number, p.path.c_str(),
                static_cast<long long>(p.size));
  auto refuse_if_incomplete = [&]() {
    m_missing_parts = set.missing();
    if (m_missing_parts.empty() || m_b_allow_partial) return;
    set_progress_value(-1);
    tk_string text = "The dump is written in several files, and ";
    for (size_t i = 0; i < m_missing_parts.size(); ++i)
      text += (i == 0 ? "" : i + 1 == m_missing_parts.size() ? " and " : ", ") + m_missing_parts[i];
    text += m_missing_parts.size() == 1 ? " is missing." : " are missing.";
    text +=
        "\nPut every file of the dump beside the first one (or name each with --src=), or "
        "convert the files present with --partial.";
    throw tk_exception(text, 1);
  };
  refuse_if_incomplete();

  std::shared_ptr<ora_dump_stream> stream;
  try {
    stream = ora_dump_stream::open_files(set.paths(), set.extents());
  } catch (const tk_exception& e) {
    log_message(3, "Couldn't open dump file set: %s", e.what());
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
  m_part_paths = set.paths();
  std::unique_ptr<ora_dump_file> db = open_stream(path, stream);
  if (m_datapump) {
    const size_t before = set.parts().size();
    check_master_files(*db, set);
    if (set.parts().size() != before && round < 2) {
      // Files found under the names the master table records: read again
      // with them in place.
      db.reset();
      return open_set(path, set, round + 1);
    }
  }
  refuse_if_incomplete();
  m_b_first_part = !m_missing_parts.empty() && set.parts().size() == 1;
  return db;
}

void ora_dump_reader::check_master_files(ora_dump_file& db, ora_dump_set& set) {
  // The job's master table is named in the header: "OWNER"."NAME".
  const ora_dump_stream& s = *db.get_context().stream;
  std::string job;
  for (int64_t i = 0x43; i < 0x43 + 256 && s.byte_at(i) > 0; ++i)
    job.push_back(static_cast<char>(s.byte_at(i)));
  const size_t dot = job.find("\".\"");
  if (job.size() < 5 || job.front() != '"' || job.back() != '"' || dot == std::string::npos) return;
  const tk_wstring full =
      tk_u16(job.substr(1, dot - 1) + "." + job.substr(dot + 3, job.size() - dot - 4));
  tk_wstring key;
  for (const auto& [k, pos] : *db.tables())
    if (pos.full_name == full) key = k;
  if (key.empty()) {
    log_message(1, "The master table %s is not in the catalogue", tk_u8(full).c_str());
    return;
  }
  // Its rows of dump files (PROCESS_ORDER -21, FILE_TYPE 0): the file's
  // number in the job (in DUPLICATE), the name the user gave
  // (USER_FILE_NAME) and the path it was written to (FILE_NAME).
  std::vector<std::pair<int, tk_string>> files;
  try {
    std::unique_ptr<udb_recordset> t = db.get_table(key, 1);
    const udb_schema& schema = t->get_schema();
    const int order_col = schema.get_field_idx(u"PROCESS_ORDER");
    const int number_col = schema.get_field_idx(u"DUPLICATE");
    const int type_col = schema.get_field_idx(u"FILE_TYPE");
    const int user_col = schema.get_field_idx(u"USER_FILE_NAME");
    const int path_col = schema.get_field_idx(u"FILE_NAME");
    if (order_col < 0 || number_col < 0 || user_col < 0 || path_col < 0) return;
    auto text = [](const udb_record& rec, int col) {
      std::string out;
      if (col >= 0) rec[static_cast<size_t>(col)].append_text_utf8(out);
      return out;
    };
    t->reset();
    while (!t->is_eof()) {
      const udb_record* rec = nullptr;
      try {
        rec = t->get_item1();
      } catch (const tk_exception&) {
        rec = nullptr;  // a damaged row says nothing about the files
      }
      if (rec != nullptr && text(*rec, order_col) == "-21") {
        const std::string type = text(*rec, type_col);
        const int number = std::atoi(text(*rec, number_col).c_str());
        tk_string name = text(*rec, user_col);
        if (name.empty()) name = text(*rec, path_col);
        // The name without the folder it had on the database server.
        const size_t sep = name.find_last_of("/\\:");
        if (sep != tk_string::npos) name.erase(0, sep + 1);
        if (number > 0 && (type.empty() || type == "0")) {
          log_message(1, "The master table lists file %d: %s", number, name.c_str());
          files.emplace_back(number, name);
        }
      }
      t->next();
    }
  } catch (const tk_exception& e) {
    log_message(3, "Couldn't read the master table's list of files: %s", e.what());
    return;
  }
  if (files.empty()) return;
  std::set<int> present;
  for (const ora_dump_set_part& p : set.parts()) present.insert(p.header.number);
  const tk_string dir =
      set.parts().front().path.substr(0, set.parts().front().path.find_last_of('/') + 1);
  for (const auto& [number, name] : files) {
    if (present.count(number) != 0) continue;
    if (!set.add_if_part(dir + name)) set.add_if_part(dir + set.expected_name(number));
  }
  set.expect_parts(files);
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_stream(
    const tk_wstring& path, std::shared_ptr<ora_dump_stream> stream) {
  m_dump_size = stream->size();
  m_datapump = false;
  log_message(1, "Dump file length: %lld", static_cast<long long>(m_dump_size));
  if (m_dump_size < 1) {
    log_message(3, "File has 0 size.");
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }

  ora_dump_stream& s = *stream;
  uint8_t prefix[3] = {};
  s.read(prefix, std::min<size_t>(3, s.remaining()));
  int version = -1;
  std::string version_word;
  for (int i = 0; i < 5 && !s.at_end(); ++i) {
    const std::string_view w = s.read_word();
    // A version word is short; a long run of bytes is binary data.
    if (w.size() > 64) break;
    version = classic_version(w);
    if (version >= 0) {
      version_word = std::string(w);
      break;
    }
  }
  if (version < 0) return open_datapump(path, stream);
  // A classic header never gets a Data Pump decoder: a version word damaged
  // into one the reader does not know ends the run here, instead of every
  // table coming out empty.
  if (version < k_classic_first_version || version > k_classic_last_version) {
    log_message(3, "Unknown export version %d", version);
    set_progress_value(-1);
    throw tk_exception(
        tk_format("The dump file was written by an export version the program does "
                  "not know (%s). Classic dumps of export versions %d to %d are "
                  "supported.",
                  printable(version_word).c_str(), k_classic_first_version, k_classic_last_version),
        1);
  }
  return open_classic(path, stream, version, version_word);
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_classic(
    const tk_wstring& path, std::shared_ptr<ora_dump_stream> stream, int version,
    const tk_string& version_word) {
  ora_dump_stream& s = *stream;
  log_message(3, "Dump file version: %d (exp)\r\n", version);
  auto decoder = create_token_handler(m_charsets, 0, version, version_word);

  std::string user(s.read_word());
  std::string tablespace(s.read_word());
  if (!user.empty()) user.erase(0, 1);
  if (!tablespace.empty()) tablespace.erase(0, 1);
  log_message(3, "Tablespace name: %s\r\n", tablespace.c_str());

  const int client_id = (s.byte_at(1) << 8) | s.byte_at(2);
  m_charsets.m_client_id = client_id;
  if (version <= 7) {
    m_charsets.set_database_charset(client_id);
  } else {
    for (int i = 0; i < 5; ++i) {
      int64_t at = 0;
      if (!seek_to_byte(s, '\n', at)) break;
    }
    const uint8_t* cs = s.take(6);
    if (cs != nullptr) {
      m_charsets.set_database_charset((cs[2] << 8) | cs[3]);
      log_message(3, "Dump charset: %d\r\n", m_charsets.database_charset());
      m_charsets.set_national_charset((cs[4] << 8) | cs[5]);
      log_message(3, "Dump ncharset: %d\r\n", m_charsets.national_charset());
    }
    uint16_t n_part = 32;
    if (cs != nullptr && s.read_u16be(n_part) && n_part != 32) {
      if (n_part != 1) {
        set_progress_value(-1);
        throw tk_exception(k_non_leading, 1);
      }
      uint64_t part_size = 0;
      s.read_u64be(part_size);
      // Single-file dumps carry 1 here too, with a part size of 0; only a
      // real first part of a multi-file dump records its size. Its other
      // parts were looked for before (see open_set).
      log_message(1, "Full filesize=%lld, chunk filesize=%lld", static_cast<long long>(m_dump_size),
                  static_cast<long long>(part_size));
    }
  }
  set_progress(s.tell(), m_dump_size);

  ora_dump_file::context ctx;
  ctx.dump_path = path;
  ctx.m_str_version = version_word;
  ctx.m_str_username = user;
  ctx.m_str_tablespacename = tablespace;
  ctx.m_pmap_tables = std::make_shared<ora_table_map>();
  ctx.m_pmap_indices = std::make_shared<ora_index_map>();
  // Positions of a dump in several files lie in the space the set makes
  // together, which a cache keyed on one file cannot vouch for.
  ctx.cacheable = m_b_use_cache && m_b_qualify_names && m_part_paths.size() <= 1;
  // A usable cache file replaces the pass over the whole dump.
  ora_dump_file::context cached;
  if (ctx.cacheable && cached.load_if(path) && cached.m_str_version == version_word &&
      ora_cache_fits_dump(cached, tk_u8(path), false)) {
    ctx.m_pmap_tables = cached.m_pmap_tables;
    ctx.m_pmap_indices = cached.m_pmap_indices;
    ctx.m_sequences = std::move(cached.m_sequences);
    ctx.m_file_size = cached.m_file_size;
    s.seek(0);
  } else {
    scan_classic(s, ctx);
  }
  ctx.stream = stream;
  ctx.decoder = decoder;
  ctx.make_decoder = [version, version_word](const ora_charsets& cs) {
    return create_token_handler(cs, 0, version, version_word);
  };
  ctx.charsets = &m_charsets;
  auto db = std::make_unique<ora_dump_file>(ctx);
  set_progress_value(100);
  return db;
}

void ora_dump_reader::scan_classic(ora_dump_stream& s, ora_dump_file::context& ctx) {
  try {
    find_ora_objects(s, ctx, m_charsets, m_b_qualify_names,
                     [this](int64_t pos) { set_progress(pos, m_dump_size); });
  } catch (const tk_exception&) {
    log_message(3, "Couldn't read dump file");
    set_progress_value(-1);
    throw;
  } catch (const std::exception&) {
    log_message(3, "Couldn't read dump file");
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_datapump(
    const tk_wstring& path, std::shared_ptr<ora_dump_stream> stream) {
  ora_dump_stream& s = *stream;
  set_progress_value(0);
  uint8_t d[64] = {};
  const size_t n = s.read_at(0, d, sizeof d) < sizeof d ? static_cast<size_t>(s.size()) : 64;
  log_message(1, "arrchmagic[0]=%02X, arrchmagic[1]=%02X", d[0], n > 1 ? d[1] : 0);
  if (n < 2 || d[0] > 5 || d[1] > 3) {
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
  log_message(3, "Dump file version: %d.%d (expdp)\r\n", d[0], d[1]);
  if (n < 52) {
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
  try {
    check_datapump_header(d, n);
  } catch (const tk_exception&) {
    set_progress_value(-1);
    throw;
  }
  const int part = (d[33] << 8) | d[34];
  if (part > 1 && m_part_paths.size() < 2) {
    // (A header without a valid block size was refused above as damaged,
    // whatever its part number reads.)
    set_progress_value(-1);
    throw tk_exception(k_non_leading, 1);
  }
  m_charsets.set_database_charset((d[39] << 8) | d[40]);
  log_message(3, "Dump charset: %d\r\n", m_charsets.database_charset());
  const uint8_t flags = d[51];
  const int compression = flags & 0x06;
  const int encryption = flags & 0x60;
  if (compression == 6 || compression == 4) {
    log_message(1, compression == 6 ? "Dump is fully compressed" : "Dump is dataonly compressed");
    throw tk_exception(
        "The dump file is compressed. Current version of the product does not support "
        "compressed dump files.",
        1);
  }
  if (encryption == 0x60 || encryption == 0x40) {
    log_message(1, encryption == 0x60 ? "Dump is fully encrypted" : "Dump is dataonly encrypted");
    throw tk_exception(
        "The dump file is encypted. Use decrypt.exe tool from the installation package to "
        "decrypt it before converting.",
        1);
  }
  m_datapump = true;
  set_progress(52, m_dump_size);
  return open_datapump_catalogue(*this, path, stream, d[0], d[1]);
}

void ora_dump_reader::set_progress(int64_t position, int64_t size) {
  check_cancel();
  if (size == 0) return;
  double value = 99;
  if (position != size) {
    value = static_cast<double>(position) / (static_cast<double>(size) / 100.0);
    if (value > 1) value -= 1;
  }
  m_ui_progress = static_cast<int>(value);
}

void ora_dump_reader::set_local_progress(int64_t start, int64_t end, int64_t current) {
  const int64_t span = end - start;
  if (span == 0) return;
  const double value = current - start == span ? 100.0
                                               : static_cast<double>(current - start) /
                                                     (static_cast<double>(span) / 100.0);
  m_local_progress = static_cast<int>(value);
}

int ora_dump_reader::get_progress() const {
  const int progress = m_ui_progress;
  const int64_t size = m_ui_cur_size;
  const int64_t pos = m_ui_cur_pos;
  if (size == 0 || progress < 0 || progress > 99) return progress;
  if (pos >= size) return 100;
  return static_cast<int>(static_cast<double>(pos) / (static_cast<double>(size) / 100.0));
}

int ora_dump_reader::get_local_progress() const { return m_local_progress; }
