// Opening a dump: format detection, header, decoder choice, catalogue.
//
// A classic dump begins with a byte, the export client's character set id
// and a text header whose first word (among the first few) is the version
// word "EXPORT:Vnn.nn.nn". Anything else is taken for a Data Pump dump, whose
// binary header starts with its major and minor file version.
#include "oracle_dump/ora_dump_reader.h"

#include <cstdio>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_pump_scan.h"
#include "oracle_dump/ora_dump_reader_th.h"
#include "oracle_dump/ora_dump_scan.h"
#include "oracle_dump/ora_dump_search.h"
#include "oracle_dump/ora_dump_stream.h"

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

}  // namespace

ora_dump_reader::ora_dump_reader() = default;
ora_dump_reader::~ora_dump_reader() = default;

std::unique_ptr<ora_dump_file> ora_dump_reader::open(const tk_wstring& path) {
  log_message(2, "ora_dump_reader::open(%s)", tk_u8(path).c_str());
  set_progress_value(0);
  std::shared_ptr<ora_dump_stream> stream;
  try {
    stream = ora_dump_stream::open_file(tk_u8(path));
  } catch (const tk_exception&) {
    log_message(3, "Couldn't open dump file %s", tk_u8(path).c_str());
    set_progress_value(-1);
    throw tk_exception(k_cannot_read, 1);
  }
  return open(path, std::move(stream));
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open(const tk_wstring& path,
                                                     std::shared_ptr<ora_dump_stream> stream) {
  set_progress_value(0);
  m_dump_size = stream->size();
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

  const uint8_t* data = s.data();
  const int client_id = (data[1] << 8) | data[2];
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
      // real first part of a multi-file dump records its size.
      if (part_size != 0) m_b_first_part = true;
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
  ctx.stream = stream;
  ctx.decoder = decoder;
  ctx.charsets = &m_charsets;
  auto db = std::make_unique<ora_dump_file>(ctx);
  set_progress_value(100);
  return db;
}

std::unique_ptr<ora_dump_file> ora_dump_reader::open_datapump(
    const tk_wstring& path, std::shared_ptr<ora_dump_stream> stream) {
  ora_dump_stream& s = *stream;
  set_progress_value(0);
  const uint8_t* d = s.data();
  const size_t n = static_cast<size_t>(s.size());
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
  const int part = (d[33] << 8) | d[34];
  if (part > 1) {
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
  if (size == 0) return;
  double value = 99;
  if (position != size) {
    value = static_cast<double>(position) / (static_cast<double>(size) / 100.0);
    if (value > 1) value -= 1;
  }
  std::lock_guard<std::mutex> lock(m_cs_progress);
  m_ui_progress = static_cast<int>(value);
}

void ora_dump_reader::set_local_progress(int64_t start, int64_t end, int64_t current) {
  const int64_t span = end - start;
  if (span == 0) return;
  const double value = current - start == span ? 100.0
                                               : static_cast<double>(current - start) /
                                                     (static_cast<double>(span) / 100.0);
  std::lock_guard<std::mutex> lock(m_cs_local_progress);
  m_local_progress = static_cast<int>(value);
}

int ora_dump_reader::get_progress() const {
  std::lock_guard<std::mutex> lock(m_cs_progress);
  if (!m_datapump || m_ui_progress < 0 || m_ui_progress > 99) return m_ui_progress;
  if (m_ui_cur_pos == m_dump_size) return 100;
  return m_dump_size > 0 ? static_cast<int>(m_ui_cur_pos / (m_dump_size / 100.0)) : 0;
}

int ora_dump_reader::get_local_progress() const {
  std::lock_guard<std::mutex> lock(m_cs_local_progress);
  return m_local_progress;
}
