// The dump database: catalogue, table names and table recordsets; and the
// context cache file, the catalogue of a dump kept beside it so that the next
// opening skips the pass over the whole dump.
//
// Cache file layout (all integers little-endian): the magic E1E2F101, the
// dump's size (s64), three header texts (u16 length + bytes each), the
// tables (u32 count, then per table its key and its position record), the
// index groups (u32 count; owner, table, u16 index count, then per index its
// name, unique and primary flags, u16 column count and the column names) and
// the sequences (u32 count; name, start, increment, minimum, maximum as s32,
// cycle flag). Names are u16 byte counts followed by UTF-8 bytes. A file of
// an earlier writer may end right after the tables.
//
// The file is a hint, never a source of truth: one written for another dump
// (other size, or older than the dump) or damaged in any way is ignored and
// replaced, and failing to write it is never an error.
#include "oracle_dump/ora_dump_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"

ora_dump_file::ora_dump_file(const context& ctx)
    : udb_database(tk_wstring(), 1, false), m_ctx(ctx) {
  m_sequences = ctx.m_sequences;
  init();
}

ora_dump_file::~ora_dump_file() {
  log_message(2, "ora_dump_file::~ora_dump_file()");
  if (m_ctx.cacheable && m_ctx.stream && !m_ctx.dump_path.empty()) {
    register_all_indexes();
    m_ctx.save(m_ctx.stream->size());
  }
  log_message(2, "ora_dump_file::~ora_dump_file - END");
}

void ora_dump_file::init() {
  m_tables.clear();
  if (!m_ctx.m_pmap_tables) return;
  for (const auto& [key, pos] : *m_ctx.m_pmap_tables) {
    (void)pos;
    m_tables.push_back(key);
  }
}

std::unique_ptr<udb_recordset> ora_dump_file::get_table(const tk_wstring& name_, int flag) {
  (void)flag;
  if (m_ctx.m_pmap_tables) {
    // A table spelled exactly so wins over one that differs only in case:
    // EMP and "Emp" of one schema are two tables with rows of their own.
    auto it = m_ctx.m_pmap_tables->find(name_);
    if (it == m_ctx.m_pmap_tables->end() && !case_sensitive) {
      for (it = m_ctx.m_pmap_tables->begin(); it != m_ctx.m_pmap_tables->end(); ++it)
        if (tk_wcompare_no_case(it->first, name_)) break;
    }
    if (it != m_ctx.m_pmap_tables->end()) {
      const tk_wstring& key = it->first;
      auto table = std::make_unique<ora_dump_table>(this, key);
      table->m_ddl_charsets = m_ctx.charsets;
      std::shared_ptr<ora_dump_stream> stream = m_ctx.stream;
      std::shared_ptr<ora_dump_reader_th> decoder = m_ctx.decoder;
      if (m_ctx.make_decoder && m_ctx.charsets != nullptr && stream) {
        // The decoder keeps its character sets alive.
        struct own_decoder {
          std::unique_ptr<ora_charsets> charsets;
          std::shared_ptr<ora_dump_reader_th> decoder;
        };
        auto own = std::make_shared<own_decoder>();
        own->charsets = m_ctx.charsets->clone();
        own->decoder = m_ctx.make_decoder(*own->charsets);
        decoder = std::shared_ptr<ora_dump_reader_th>(own, own->decoder.get());
        stream = stream->reopen();
      }
      if (!table->init(stream, it->second, decoder, m_ctx.m_str_version)) {
        log_message(3, "Failed to init table '%s'", tk_u8(key).c_str());
        throw tk_exception("Failed to initialize table", 1);
      }
      return table;
    }
  }
  const std::string text = "Table \"" + tk_u8(name_) + "\" doesn't exist in the database";
  log_message(2, "%s", text.c_str());
  throw tk_exception(text, 1);
}

void ora_dump_file::create_relationships(const std::list<udb_relationship>& rels) {
  m_relationships = rels;
}

void ora_dump_file::append_relationships(const std::list<udb_relationship>& rels) {
  // A table opened twice (listed, then converted) reports its foreign keys
  // twice: each is kept once.
  for (const udb_relationship& r : rels) {
    bool known = false;
    for (const udb_relationship& e : m_relationships)
      known = known ||
              (e.fk_name == r.fk_name && e.fk_table == r.fk_table && e.pk_table == r.pk_table &&
               e.fk_fields == r.fk_fields && e.pk_fields == r.pk_fields);
    if (!known) m_relationships.push_back(r);
  }
}

void ora_dump_file::add_global_idx(const tk_wstring& owner, const tk_wstring& table,
                                   const udb_index& index) {
  if (!m_ctx.m_pmap_indices) {
    log_message(2, "m_pmap_indices is NULL");
    return;
  }
  (*m_ctx.m_pmap_indices)[{owner, table}].push_back(index);
}

table_pos* ora_dump_file::find_table_pos(const tk_wstring& key) {
  if (!m_ctx.m_pmap_tables) return nullptr;
  auto it = m_ctx.m_pmap_tables->find(key);
  return it == m_ctx.m_pmap_tables->end() ? nullptr : &it->second;
}

void ora_dump_file::note_record_count(const tk_wstring& key, uint64_t count) {
  table_pos* pos = find_table_pos(key);
  // The file holds a signed 32-bit count where 0 means "not known": counts
  // it cannot hold stay unknown rather than being stored wrong.
  if (pos == nullptr || count >= static_cast<uint64_t>(INT32_MAX)) return;
  pos->record_count = static_cast<int32_t>(count);
}

bool ora_dump_file::known_record_count(const tk_wstring& key, uint64_t& count) {
  const table_pos* pos = find_table_pos(key);
  if (pos == nullptr) return false;
  if (pos->record_count > 0) {
    count = static_cast<uint64_t>(pos->record_count);
    return true;
  }
  // No INSERT statement (classic) or no row stream (Data Pump): no rows.
  const bool classic = tk_starts_with_no_case(m_ctx.m_str_version, "EXPORT:");
  if (classic ? pos->v_data_start_pos.empty()
              : pos->v_data_start_pos.empty() || pos->v_data_end_pos.empty()) {
    count = 0;
    return true;
  }
  return false;
}

void ora_dump_file::register_all_indexes() noexcept {
  if (!m_ctx.m_pmap_tables || !m_ctx.m_pmap_indices) return;
  std::vector<tk_wstring> pending;
  for (const auto& [key, pos] : *m_ctx.m_pmap_tables)
    if (!pos.indexes.empty() && m_ctx.m_pmap_indices->count({tk_wstring(), key}) == 0)
      pending.push_back(key);
  for (const tk_wstring& key : pending) {
    try {
      get_table(key, 0);
    } catch (...) {
      log_message(2, "Indexes of table '%s' could not be read", tk_u8(key).c_str());
    }
  }
}

// ---- the cache file ------------------------------------------------------------

namespace {

constexpr uint32_t k_cache_magic = 0xE1E2F101u;
constexpr uint32_t k_cache_magic_old = 0xE1E2F100u;

// 64-bit FNV-1a: a stable name part for a path, the same on every run.
uint64_t path_hash(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

tk_string user_cache_folder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  // The base directory rules allow absolute paths only.
  if (xdg != nullptr && xdg[0] == '/') return tk_string(xdg) + "/talvex";
  const tk_string home = tk_u8(tk_get_user_home_wpath());
  if (home.empty()) return tk_string();
  return home + "/.cache/talvex";
}

// Reads the cache image field by field; every read checks what is left.
class cache_reader {
 public:
  cache_reader(const uint8_t* data, size_t size) : m_p(data), m_end(data + size) {}

  bool u8(uint8_t& v) {
    if (m_end - m_p < 1) return false;
    v = *m_p++;
    return true;
  }
  bool u16(uint16_t& v) {
    if (m_end - m_p < 2) return false;
    v = static_cast<uint16_t>(m_p[0] | (m_p[1] << 8));
    m_p += 2;
    return true;
  }
  bool u32(uint32_t& v) {
    if (m_end - m_p < 4) return false;
    v = m_p[0] | (m_p[1] << 8) | (m_p[2] << 16) | (static_cast<uint32_t>(m_p[3]) << 24);
    m_p += 4;
    return true;
  }
  bool s32(int32_t& v) {
    uint32_t u = 0;
    if (!u32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
  }
  bool s64(int64_t& v) {
    uint32_t lo = 0, hi = 0;
    if (!u32(lo) || !u32(hi)) return false;
    v = static_cast<int64_t>((static_cast<uint64_t>(hi) << 32) | lo);
    return true;
  }
  bool text(std::string& out) {
    uint16_t n = 0;
    if (!u16(n) || static_cast<size_t>(m_end - m_p) < n) return false;
    out.assign(reinterpret_cast<const char*>(m_p), n);
    m_p += n;
    return true;
  }
  // A name is read up to its first zero byte, as the writer's code page
  // conversion would end it.
  bool name(tk_wstring& out, bool required) {
    std::string bytes;
    if (!text(bytes)) return false;
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    if (required && bytes.empty()) return false;
    out = tk_u16(bytes);
    return true;
  }
  // A count of items of at least item_size bytes each: more than the bytes
  // left can hold is a damaged file, not a reason to allocate.
  bool count(uint32_t& n, size_t item_size) {
    return u32(n) && static_cast<size_t>(m_end - m_p) / item_size >= n;
  }
  bool at_end() const { return m_p == m_end; }

 private:
  const uint8_t* m_p;
  const uint8_t* m_end;
};

class cache_writer {
 public:
  void u8(uint8_t v) { m_out.push_back(static_cast<char>(v)); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void s64(int64_t v) {
    u32(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    u32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
  }
  // Texts longer than a u16 count can hold are cut at a character boundary.
  void text(std::string_view bytes) {
    if (bytes.size() > 0xFFFF) {
      size_t n = 0xFFFF;
      while (n > 0 && (static_cast<unsigned char>(bytes[n]) & 0xC0) == 0x80) --n;
      bytes = bytes.substr(0, n);
    }
    u16(static_cast<uint16_t>(bytes.size()));
    m_out.append(bytes);
  }
  void name(const tk_wstring& w) { text(tk_u8(w)); }
  std::string& out() { return m_out; }

 private:
  std::string m_out;
};

bool position_ok(int64_t pos, int64_t dump_size) { return pos >= 0 && pos <= dump_size; }

bool read_positions(cache_reader& r, std::vector<int64_t>& list, int64_t dump_size) {
  uint32_t n = 0;
  if (!r.count(n, 8)) return false;
  list.reserve(list.size() + n);
  for (uint32_t i = 0; i < n; ++i) {
    int64_t v = 0;
    if (!r.s64(v) || !position_ok(v, dump_size)) return false;
    list.push_back(v);
  }
  return true;
}

void write_positions(cache_writer& w, const std::vector<int64_t>& list) {
  w.u32(static_cast<uint32_t>(list.size()));
  for (const int64_t v : list) w.s64(v);
}

bool read_table_pos(cache_reader& r, table_pos& tp, int64_t dump_size) {
  if (!r.s64(tp.start_pos) || !r.s64(tp.end_pos)) return false;
  if (!position_ok(tp.start_pos, dump_size) || !position_ok(tp.end_pos, dump_size)) return false;
  if (!read_positions(r, tp.v_data_start_pos, dump_size) ||
      !read_positions(r, tp.v_data_end_pos, dump_size) ||
      !read_positions(r, tp.v_data_end_pos_for_progress, dump_size))
    return false;
  tk_wstring full;
  if (!r.name(full, false)) return false;
  if (!full.empty()) tp.full_name = full;
  int32_t reserved = 0;
  if (!r.s32(tp.record_count) || !r.s32(reserved) || tp.record_count < 0) return false;
  uint32_t n = 0;
  if (!r.count(n, 16)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    int64_t a = 0, b = 0;
    if (!r.s64(a) || !r.s64(b) || !position_ok(a, dump_size) || !position_ok(b, dump_size))
      return false;
    tp.alters.emplace_back(a, b);
  }
  return true;
}

void write_table_pos(cache_writer& w, const table_pos& tp) {
  w.s64(tp.start_pos);
  w.s64(tp.end_pos);
  write_positions(w, tp.v_data_start_pos);
  write_positions(w, tp.v_data_end_pos);
  write_positions(w, tp.v_data_end_pos_for_progress);
  w.name(tp.full_name);
  w.u32(static_cast<uint32_t>(tp.record_count));
  w.u32(0);  // reserved
  w.u32(static_cast<uint32_t>(tp.alters.size()));
  for (const auto& [a, b] : tp.alters) {
    w.s64(a);
    w.s64(b);
  }
}

bool timespec_before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The whole cache file, when it is a regular file not older than the dump.
bool read_cache_file(const tk_string& path, const struct stat& dump_st, std::string& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    log_message(3, "File '%s' does not exist", path.c_str());
    return false;
  }
  if (timespec_before(st.st_mtim, dump_st.st_mtim)) {
    log_message(3, "Cache file '%s' is older than the dump, skip it", path.c_str());
    return false;
  }
  // The file of even a very large dump is small; one far larger than any
  // catalogue is not ours.
  if (st.st_size < 10 || st.st_size > (int64_t{1} << 30)) {
    log_message(2, "Invalid file size");
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    log_message(3, "Cannot open cache file '%s'", path.c_str());
    return false;
  }
  bytes.resize(static_cast<size_t>(st.st_size));
  const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  bytes.resize(n);
  return n >= 10;
}

// Writes the file under a temporary name and renames it into place, so that
// a reader never sees half a file and a failed write leaves no debris.
bool write_cache_file(const tk_string& path, const std::string& bytes) {
  const tk_string tmp = path + tk_format(".%ld.tmp", static_cast<long>(::getpid()));
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

// A folder whose permission bits deny writing is left alone, also by a
// superuser, whom access() would let through: dumps are often kept in
// folders made read-only on purpose.
bool folder_writable(const tk_string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
  return ::geteuid() != 0 || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool make_folders(const tk_string& folder) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') continue;
    const tk_string part = folder.substr(0, i);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

ora_cache_paths ora_cache_paths_of(const tk_string& dump_path) {
  ora_cache_paths paths;
  if (dump_path.empty()) return paths;
  const tk_file_name name(dump_path);
  paths.beside = name.get_drivepath() + name.fname + ".tvc";
  // File names are limited to 255 bytes: a path that would need a longer
  // name goes without a cache file.
  if (name.fname.size() + 4 > 255) paths.beside.clear();
  const tk_string folder = user_cache_folder();
  if (!folder.empty()) {
    tk_string base = name.fname + name.ext;
    if (base.size() > 200) base.resize(200);
    while (!base.empty() && (static_cast<unsigned char>(base.back()) & 0xC0) == 0x80)
      base.pop_back();
    paths.user_cache =
        folder + "/" + base +
        tk_format("-%016llx.tvc", static_cast<unsigned long long>(path_hash(name.get_full_name())));
  }
  return paths;
}

bool ora_cache_fits_dump(const ora_dump_file::context& ctx, const tk_string& dump_path,
                         bool datapump) {
  if (tk_starts_with_no_case(ctx.m_str_version, "EXPORT:") == datapump) return false;
  if (!ctx.m_pmap_tables) return true;
  // Read with pread: touching scattered pages of a mapping of a file of
  // gigabytes costs far more than a few small reads.
  const int fd = ::open(dump_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  auto bytes_at = [fd](int64_t at, char* buf, size_t n) {
    return at >= 0 && ::pread(fd, buf, n, at) == static_cast<ssize_t>(n);
  };
  bool ok = true;
  for (const auto& [key, tp] : *ctx.m_pmap_tables) {
    char b[8] = {};
    if (datapump) {
      // Narrow text starts right after the 4-byte header, UTF-16 text one
      // byte later (its first unit's high byte is 0).
      ok = bytes_at(tp.start_pos + 4, b, 2) && (b[0] == '<' || (b[0] == 0 && b[1] == '<'));
    } else {
      ok = bytes_at(tp.start_pos, b, 7) && std::memcmp(b, "CREATE ", 7) == 0;
      // A classic data start is the line of an INSERT statement.
      for (const int64_t p : tp.v_data_start_pos)
        ok = ok && bytes_at(p, b, 6) && std::memcmp(b, "INSERT", 6) == 0;
    }
    if (!ok) break;
  }
  ::close(fd);
  return ok;
}

bool ora_dump_file::context::load_if(const tk_wstring& path) {
  try {
    return load_cache_file(path);
  } catch (const std::exception& e) {
    // A path that cannot be resolved, memory running out: no cache then.
    log_message(3, "The cache file of the dump could not be read: %s", e.what());
    return false;
  }
}

bool ora_dump_file::context::load_cache_file(const tk_wstring& path) {
  const tk_string path8 = tk_u8(path);
  log_message(2, "ora_dump_file::context::load_if(%s)", path8.c_str());
  log_message(3, "Trying to load data from cache file");
  struct stat dump_st {};
  if (::stat(path8.c_str(), &dump_st) != 0) return false;
  const ora_cache_paths paths = ora_cache_paths_of(path8);
  for (const tk_string* candidate : {&paths.beside, &paths.user_cache}) {
    if (candidate->empty()) continue;
    std::string bytes;
    if (!read_cache_file(*candidate, dump_st, bytes)) continue;
    log_message(3, "Loading dump context from '%s'\r\n", candidate->c_str());
    if (load_from_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                        static_cast<int64_t>(dump_st.st_size))) {
      dump_path = path;
      return true;
    }
    log_message(3, "Cache file '%s' does not describe this dump, skip it", candidate->c_str());
  }
  log_message(3, "Failed to find cache file");
  return false;
}

bool ora_dump_file::context::load_from_bytes(const uint8_t* data, size_t size, int64_t dump_size) {
  if (data == nullptr || size < 10) {
    log_message(2, "Invalid file size");
    return false;
  }
  cache_reader r(data, size);
  uint32_t magic = 0;
  r.u32(magic);
  if (magic == k_cache_magic_old) {
    log_message(3, "Old version of cache file found, skip it");
    return false;
  }
  if (magic != k_cache_magic) {
    log_message(2, "Invalid magic number");
    return false;
  }
  context c;
  if (!r.s64(c.m_file_size) || c.m_file_size <= 0 || c.m_file_size != dump_size) {
    log_message(2, "Invalid dump file size");
    return false;
  }
  if (!r.text(c.m_str_version) || !r.text(c.m_str_username) || !r.text(c.m_str_tablespacename))
    return false;

  c.m_pmap_tables = std::make_shared<ora_table_map>();
  c.m_pmap_indices = std::make_shared<ora_index_map>();
  uint32_t tables = 0;
  // Smallest table entry: key length, two positions, three list counts,
  // full name length, count, reserved and alters count.
  if (!r.count(tables, 2 + 16 + 12 + 2 + 12)) return false;
  log_message(1, "m_pmap_tables_size=%u", tables);
  for (uint32_t i = 0; i < tables; ++i) {
    tk_wstring key;
    if (!r.name(key, false)) return false;
    table_pos tp;
    if (!read_table_pos(r, tp, dump_size)) return false;
    (*c.m_pmap_tables)[key] = std::move(tp);
  }

  if (r.at_end()) {
    log_message(3, "Old version of .tvc file or there is no indexes");
  } else {
    uint32_t groups = 0;
    if (!r.count(groups, 2 + 3 + 2)) return false;
    for (uint32_t g = 0; g < groups; ++g) {
      tk_wstring owner, table;
      uint16_t n = 0;
      if (!r.name(owner, false) || !r.name(table, true) || !r.u16(n)) return false;
      udb_indexes& list = (*c.m_pmap_indices)[{owner, table}];
      for (uint16_t i = 0; i < n; ++i) {
        udb_index idx;
        uint8_t unique = 0, primary = 0;
        uint16_t columns = 0;
        if (!r.name(idx.name, true) || !r.u8(unique) || !r.u8(primary) || !r.u16(columns) ||
            columns == 0)
          return false;
        idx.unique = unique != 0;
        idx.primary = primary != 0;
        for (uint16_t k = 0; k < columns; ++k) {
          tk_wstring column;
          if (!r.name(column, true)) return false;
          idx.fields.push_back(std::move(column));
        }
        list.push_back(idx);
      }
    }
    uint32_t sequences = 0;
    if (!r.count(sequences, 3 + 16 + 1)) return false;
    for (uint32_t i = 0; i < sequences; ++i) {
      tk_wstring name;
      int32_t start = 0, increment = 0, min_value = 0, max_value = 0;
      uint8_t cycle = 0;
      if (!r.name(name, true) || !r.s32(start) || !r.s32(increment) || !r.s32(min_value) ||
          !r.s32(max_value) || !r.u8(cycle))
        return false;
      c.m_sequences.emplace_back(name, start, increment, min_value, max_value, cycle != 0);
    }
    // Bytes after the last section: not a file this writer made.
    if (!r.at_end()) return false;
  }

  m_file_size = c.m_file_size;
  m_str_version = std::move(c.m_str_version);
  m_str_username = std::move(c.m_str_username);
  m_str_tablespacename = std::move(c.m_str_tablespacename);
  m_pmap_tables = std::move(c.m_pmap_tables);
  m_pmap_indices = std::move(c.m_pmap_indices);
  m_sequences = std::move(c.m_sequences);
  return true;
}

std::string ora_dump_file::context::to_bytes(int64_t dump_size) const {
  cache_writer w;
  w.u32(k_cache_magic);
  w.s64(dump_size);
  w.text(m_str_version);
  w.text(m_str_username);
  w.text(m_str_tablespacename);
  w.u32(m_pmap_tables ? static_cast<uint32_t>(m_pmap_tables->size()) : 0);
  if (m_pmap_tables) {
    for (const auto& [key, tp] : *m_pmap_tables) {
      w.name(key);
      write_table_pos(w, tp);
    }
  }
  // Groups and indexes beyond what the counts can hold, and the empty names
  // a reader must refuse, are left out.
  std::vector<std::pair<const ora_index_map::key_type*, std::vector<const udb_index*>>> groups;
  if (m_pmap_indices) {
    for (const auto& [key, list] : *m_pmap_indices) {
      if (key.second.empty()) continue;
      std::vector<const udb_index*> kept;
      for (const udb_index& idx : list) {
        bool ok = !idx.name.empty() && !idx.fields.empty() && idx.fields.size() <= 0xFFFF;
        for (const tk_wstring& f : idx.fields) ok = ok && !f.empty();
        if (ok && kept.size() < 0xFFFF) kept.push_back(&idx);
      }
      groups.emplace_back(&key, std::move(kept));
    }
  }
  w.u32(static_cast<uint32_t>(groups.size()));
  for (const auto& [key, list] : groups) {
    w.name(key->first);
    w.name(key->second);
    w.u16(static_cast<uint16_t>(list.size()));
    for (const udb_index* idx : list) {
      w.name(idx->name);
      w.u8(idx->unique ? 1 : 0);
      w.u8(idx->primary ? 1 : 0);
      w.u16(static_cast<uint16_t>(idx->fields.size()));
      for (const tk_wstring& f : idx->fields) w.name(f);
    }
  }
  uint32_t sequences = 0;
  for (const udb_sequence& s : m_sequences) sequences += s.name.empty() ? 0 : 1;
  w.u32(sequences);
  for (const udb_sequence& s : m_sequences) {
    if (s.name.empty()) continue;
    w.name(s.name);
    w.u32(static_cast<uint32_t>(s.start));
    w.u32(static_cast<uint32_t>(s.increment));
    w.u32(static_cast<uint32_t>(s.min_value));
    w.u32(static_cast<uint32_t>(s.max_value));
    w.u8(s.cycle ? 1 : 0);
  }
  return std::move(w.out());
}

void ora_dump_file::context::save(int64_t dump_size) const noexcept {
  try {
    log_message(2, "ora_dump_file::context::save(size=%lld)", static_cast<long long>(dump_size));
    if (dump_size <= 0) return;
    const std::string bytes = to_bytes(dump_size);
    if (bytes.size() >= (uint64_t{1} << 32)) {
      log_message(3, "The dump's catalogue is too large for a cache file");
      return;
    }
    const ora_cache_paths paths = ora_cache_paths_of(tk_u8(dump_path));
    if (!paths.beside.empty() &&
        folder_writable(paths.beside.substr(0, paths.beside.rfind('/') + 1)) &&
        write_cache_file(paths.beside, bytes)) {
      log_message(3, "Cache file '%s' written", paths.beside.c_str());
      return;
    }
    log_message(2, "Failed to create file '%s', try to do this in user's cache folder",
                paths.beside.c_str());
    if (!paths.user_cache.empty()) {
      const tk_string folder = paths.user_cache.substr(0, paths.user_cache.rfind('/'));
      if (make_folders(folder) && write_cache_file(paths.user_cache, bytes)) {
        log_message(3, "Cache file '%s' written", paths.user_cache.c_str());
        return;
      }
    }
    log_message(3, "The cache file of the dump could not be written");
  } catch (...) {
    // Out of memory while the database is destroyed: the cache is only a
    // shortcut, so the run goes on without it.
    log_message(3, "The cache file of the dump could not be written");
  }
}

void ora_dump_file::report_unknown_type(const tk_wstring& table, const tk_wstring& column,
                                        int32_t type_num, int64_t metadata_pos) {
  if (!m_unknown_types_reported.insert({table, column}).second) return;
  add_error(dump_error(tk_format("Column '%s' has the type number %d, which the program does not "
                                 "know: its values are written as raw bytes",
                                 tk_u8(column).c_str(), type_num),
                       metadata_pos, 0));
}
