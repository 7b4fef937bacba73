// Dump file sets: part headers, finding the parts, the logical layout.
#include "oracle_dump/ora_dump_set.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace fs = std::filesystem;

namespace {

const char* const k_non_leading =
    "This is a non-leading part of multifile dump. The program can extract data from the first "
    "part of multifile dump only. See 'Troubleshooting' article of the product documentation for "
    "solution.";

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

uint64_t be64(const uint8_t* p) { return (static_cast<uint64_t>(be32(p)) << 32) | be32(p + 4); }

bool blank(uint8_t c) { return ora_dump_stream::is_blank(c); }

bool all_digits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The classic header: "EXPORT:Vnn.nn.nn" among the first words after three
// bytes, then the user line, the mode line and the numbers "2048", "0",
// "72", "0" (the first is the size of the header block); after the fifth line
// feed that follows the mode line: two bytes, the database and national
// character sets, the part number (32: a single file) and the part size.
bool parse_classic(const uint8_t* d, size_t n, ora_dump_part_header& out) {
  size_t i = 3;
  auto word = [&](std::string_view& w) {
    while (i < n && blank(d[i])) ++i;
    const size_t a = i;
    while (i < n && !blank(d[i])) ++i;
    w = std::string_view(reinterpret_cast<const char*>(d + a), i - a);
    return !w.empty();
  };
  std::string_view w;
  bool found = false;
  for (int k = 0; k < 5 && !found; ++k) {
    if (!word(w) || w.size() > 64) return false;
    // "EXPORT:V" and a one- or two-digit version followed by a point.
    size_t j = 8;
    while (j < w.size() && j < 10 && w[j] >= '0' && w[j] <= '9') ++j;
    found = w.size() >= 10 && w.substr(0, 8) == "EXPORT:V" && j > 8 && j < w.size() &&
            w[j] == '.' && std::atoi(std::string(w.substr(8, j - 8)).c_str()) > 0;
  }
  if (!found) return false;
  const int version = std::atoi(std::string(w.substr(8, 2)).c_str());
  out.valid = true;
  out.number = 1;
  std::string identity(w);
  size_t mode_end = i;
  for (int k = 0; k < 2 && word(w); ++k) {
    identity += '\n';
    identity += w;
    mode_end = i;
  }
  // The header block size: the number on the line after the mode line.
  if (word(w)) {
    const long block = all_digits(w) && w.size() <= 7 ? std::atol(std::string(w).c_str()) : 0;
    if (block >= 256 && block <= (1 << 20)) out.block = block;
    identity += '\n';
    identity += w;
  }
  out.identity = identity;
  if (version <= 7) return true;
  i = mode_end;
  for (int k = 0; k < 5; ++k) {
    while (i < n && d[i] != '\n') ++i;
    if (i >= n) return true;
    ++i;
  }
  if (i + 8 > n) return true;
  const int n_part = (d[i + 6] << 8) | d[i + 7];
  if (n_part == 32) return true;
  if (i + 16 <= n) out.part_size = be64(d + i + 8);
  if (n_part == 1) {
    // Single-file dumps write 1 too, with a part size of 0.
    out.multi = out.part_size != 0;
  } else {
    out.number = n_part;
    out.multi = true;
  }
  return true;
}

// The Data Pump header (block 0): file version, job GUID, part number,
// block size, character set, flags, the master table piece this file holds
// and the job name; in 11.2 and later also "001:001:<pieces>:<piece>".
bool parse_datapump(const uint8_t* d, size_t n, ora_dump_part_header& out) {
  if (n < 66 || d[0] > 5 || d[1] > 3) return false;
  out.valid = true;
  out.datapump = true;
  const int part = (d[33] << 8) | d[34];
  out.number = part < 1 ? 1 : part;
  const uint32_t block = be32(d + 35);
  // Oracle's block sizes are powers of two; anything else is no block size.
  if (block >= 512 && block <= (1u << 20) && (block & (block - 1)) == 0) out.block = block;
  std::string identity(reinterpret_cast<const char*>(d + 15), 16);
  for (size_t k = 0x43; k < n && k < 0x43 + 128 && d[k] != 0; ++k)
    identity.push_back(static_cast<char>(d[k]));
  out.identity = identity;
  const uint32_t master_block = be32(d + 54);
  const uint64_t master_length = be64(d + 58);
  if (out.block > 0 && master_block >= 2 && master_length > 0 &&
      master_length < (uint64_t{1} << 48)) {
    out.master_offset = static_cast<int64_t>(master_block - 1) * out.block;
    out.master_length = static_cast<int64_t>(master_length);
  }
  const size_t limit = std::min<size_t>(n, out.block > 0 ? static_cast<size_t>(out.block) : 4096);
  static const char k_shape[] = "ddd:ddd:dddddd:dddddd";
  const size_t len = sizeof k_shape - 1;
  for (size_t k = 0; k + len <= limit; ++k) {
    if (d[k] < '0' || d[k] > '9') continue;
    bool match = true;
    for (size_t j = 0; j < len && match; ++j)
      match = k_shape[j] == ':' ? d[k + j] == ':' : d[k + j] >= '0' && d[k + j] <= '9';
    if (!match) continue;
    out.master_pieces = std::atoi(reinterpret_cast<const char*>(d + k + 8));
    out.master_piece = std::atoi(reinterpret_cast<const char*>(d + k + 15));
    break;
  }
  // A header that is damaged (no block size) tells nothing about a set.
  out.multi = out.block > 0 && (out.number > 1 || out.master_pieces > 1);
  return true;
}

tk_string folder_of(const tk_string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == tk_string::npos ? tk_string() : path.substr(0, slash + 1);
}

tk_string name_of(const tk_string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == tk_string::npos ? path : path.substr(slash + 1);
}

int64_t file_size(const tk_string& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(size);
}

bool is_regular(const tk_string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// The last bytes of a file's range [from, to), at most n.
std::string read_tail(const tk_string& path, int64_t from, int64_t to, size_t n) {
  std::string out;
  if (to <= from) return out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  const int64_t len = std::min<int64_t>(to - from, static_cast<int64_t>(n));
  out.resize(static_cast<size_t>(len));
  const ssize_t got = ::pread(fd, out.data(), out.size(), to - len);
  ::close(fd);
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return out;
}

}  // namespace

void ora_dump_parse_part_header(const uint8_t* data, size_t size, ora_dump_part_header& out) {
  out = ora_dump_part_header();
  if (parse_classic(data, size, out)) return;
  out = ora_dump_part_header();
  parse_datapump(data, size, out);
}

bool ora_dump_read_part_header(const tk_string& path, ora_dump_part_header& out) {
  out = ora_dump_part_header();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t buf[8192];
  const ssize_t got = ::pread(fd, buf, sizeof buf, 0);
  ::close(fd);
  if (got <= 0) return false;
  ora_dump_parse_part_header(buf, static_cast<size_t>(got), out);
  return out.valid;
}

bool ora_dump_is_pattern(const tk_string& name) {
  const tk_string base = name_of(name);
  for (size_t i = 0; i + 1 < base.size(); ++i)
    if (base[i] == '%' && std::strchr("UuLl", base[i + 1]) != nullptr) return true;
  return false;
}

std::vector<tk_string> ora_dump_expand_pattern(const tk_string& pattern) {
  if (!ora_dump_is_pattern(pattern)) {
    if (is_regular(pattern)) return {pattern};
    return {};
  }
  const tk_string dir = folder_of(pattern);
  const tk_string base = name_of(pattern);
  // Literal pieces between the variables, and each variable's kind.
  std::vector<std::string> pieces(1);
  std::vector<bool> long_form;
  for (size_t i = 0; i < base.size(); ++i) {
    if (base[i] == '%' && i + 1 < base.size() && std::strchr("UuLl", base[i + 1]) != nullptr) {
      long_form.push_back(base[i + 1] == 'L' || base[i + 1] == 'l');
      pieces.emplace_back();
      ++i;
    } else {
      pieces.back().push_back(base[i]);
    }
  }
  std::map<long, tk_string> found;
  std::error_code ec;
  for (fs::directory_iterator it(dir.empty() ? "." : dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // Every variable stands for the same number.
    size_t at = 0;
    long number = -1;
    bool ok = name.compare(0, pieces[0].size(), pieces[0]) == 0;
    at = pieces[0].size();
    for (size_t v = 0; ok && v < long_form.size(); ++v) {
      size_t e = at;
      while (e < name.size() && name[e] >= '0' && name[e] <= '9') ++e;
      const size_t width = e - at;
      ok = long_form[v] ? width >= 2 && width <= 10 : width == 2;
      if (!ok) break;
      const long value = std::stol(name.substr(at, width));
      ok = value >= 1 && (number < 0 || number == value);
      number = value;
      at = e;
      ok = ok && name.compare(at, pieces[v + 1].size(), pieces[v + 1]) == 0;
      at += pieces[v + 1].size();
    }
    if (!ok || at != name.size()) continue;
    const tk_string path = dir + name;
    if (is_regular(path)) found.emplace(number, path);
  }
  std::vector<tk_string> out;
  for (const auto& [number, path] : found) out.push_back(path);
  return out;
}

// ---- the set ------------------------------------------------------------------

void ora_dump_set::resolve(const std::vector<tk_string>& given) {
  m_parts.clear();
  m_missing.clear();
  TK_ASSERT(!given.empty());
  std::vector<ora_dump_set_part> named;
  for (const tk_string& path : given) {
    ora_dump_set_part part;
    part.path = path;
    part.size = file_size(path);
    if (!ora_dump_read_part_header(path, part.header))
      throw tk_exception("'" + path + "' is not an Oracle export dump file", 1);
    if (!named.empty() && (part.header.datapump != named.front().header.datapump ||
                           part.header.identity != named.front().header.identity))
      throw tk_exception(
          "'" + path + "' is not a part of the same dump as '" + named.front().path + "'", 1);
    named.push_back(part);
  }
  m_datapump = named.front().header.datapump;
  for (const ora_dump_set_part& part : named) {
    const bool taken = std::any_of(m_parts.begin(), m_parts.end(), [&](const ora_dump_set_part& p) {
      return p.header.number == part.header.number;
    });
    if (taken) {
      log_message(3, "Part %d of the dump is given twice; '%s' is not used\r\n", part.header.number,
                  part.path.c_str());
      continue;
    }
    m_parts.push_back(part);
  }
  std::sort(m_parts.begin(), m_parts.end(),
            [](const ora_dump_set_part& a, const ora_dump_set_part& b) {
              return a.header.number < b.header.number;
            });
  m_multi = m_parts.size() > 1 || m_parts.front().header.multi;
  split_name(m_parts.front().path, m_parts.front().header.number);
  if (m_parts.front().header.number != 1) {
    // Without the first part the dump cannot be read: its header and, for
    // classic dumps, the table definitions are there. Name the first part
    // when it lies beside the file given.
    tk_string text = k_non_leading;
    const tk_string first = expected_name(1);
    ora_dump_part_header h;
    if (!first.empty() && ora_dump_read_part_header(m_dir + first, h) && h.number == 1 &&
        h.identity == m_parts.front().header.identity)
      text += "\nThe first part of this dump is '" + m_dir + first + "'.";
    throw tk_exception(text, 1);
  }
  if (m_multi) add_numbered_siblings();
  find_missing();
}

void ora_dump_set::split_name(const tk_string& path, int number) {
  // The file's name around the last run of digits that reads as its part
  // number: the other parts are numbered alike.
  m_dir = folder_of(path);
  m_prefix.clear();
  m_suffix.clear();
  m_width = 0;
  const tk_string base = name_of(path);
  size_t end = base.size();
  while (end > 0) {
    size_t e = end;
    while (e > 0 && (base[e - 1] < '0' || base[e - 1] > '9')) --e;
    if (e == 0) break;
    size_t a = e;
    while (a > 0 && base[a - 1] >= '0' && base[a - 1] <= '9') --a;
    if (e - a <= 9 && std::stol(base.substr(a, e - a)) == number) {
      m_prefix = base.substr(0, a);
      m_suffix = base.substr(e);
      m_width = e - a;
      return;
    }
    end = a;
  }
}

bool ora_dump_set::ends_with_exit() const {
  // Complete classic dumps end with EXIT twice, then zero padding, which
  // may take a whole last file.
  static const std::string k_exit = "EXIT\nEXIT\n";
  std::string tail;
  for (size_t i = m_parts.size(); i-- > 0;) {
    const ora_dump_set_part& p = m_parts[i];
    const int64_t from = i == 0 ? 0 : std::min<int64_t>(p.header.block, p.size);
    tail = read_tail(p.path, from, p.size, 65536) + tail;
    const size_t end = tail.find_last_not_of('\0');
    if (end != std::string::npos && end + 1 >= k_exit.size()) break;
    if (tail.size() > (1u << 20)) break;
  }
  const size_t end = tail.find_last_not_of('\0');
  return end != std::string::npos && end + 1 >= k_exit.size() &&
         tail.compare(end + 1 - k_exit.size(), k_exit.size(), k_exit) == 0;
}

tk_string ora_dump_set::expected_name(int number) const {
  if (m_width == 0) return tk_string();
  std::string digits = std::to_string(number);
  if (digits.size() < m_width) digits.insert(0, m_width - digits.size(), '0');
  return m_prefix + digits + m_suffix;
}

void ora_dump_set::add_numbered_siblings() {
  if (m_width == 0) return;
  std::error_code ec;
  std::map<long, tk_string> candidates;
  for (fs::directory_iterator it(m_dir.empty() ? "." : m_dir, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= m_prefix.size() + m_suffix.size()) continue;
    if (name.compare(0, m_prefix.size(), m_prefix) != 0) continue;
    if (name.compare(name.size() - m_suffix.size(), m_suffix.size(), m_suffix) != 0) continue;
    const std::string digits =
        name.substr(m_prefix.size(), name.size() - m_prefix.size() - m_suffix.size());
    if (!all_digits(digits) || digits.size() < m_width || digits.size() > 9) continue;
    const long number = std::stol(digits);
    if (number < 2) continue;
    candidates.emplace(number, m_dir + name);
  }
  for (const auto& [number, path] : candidates) add_if_part(path);
}

bool ora_dump_set::add_if_part(const tk_string& path) {
  if (!is_regular(path)) return false;
  for (const ora_dump_set_part& p : m_parts)
    if (p.path == path) return false;
  ora_dump_set_part part;
  part.path = path;
  part.size = file_size(path);
  if (!ora_dump_read_part_header(path, part.header)) return false;
  const ora_dump_part_header& first = m_parts.front().header;
  if (part.header.datapump != first.datapump || part.header.identity != first.identity) {
    log_message(1, "'%s' belongs to another dump", path.c_str());
    return false;
  }
  for (const ora_dump_set_part& p : m_parts)
    if (p.header.number == part.header.number) return false;
  log_message(1, "Part %d of the dump: '%s'", part.header.number, path.c_str());
  m_parts.push_back(part);
  std::sort(m_parts.begin(), m_parts.end(),
            [](const ora_dump_set_part& a, const ora_dump_set_part& b) {
              return a.header.number < b.header.number;
            });
  m_multi = true;
  find_missing();
  return true;
}

void ora_dump_set::expect_parts(const std::vector<std::pair<int, tk_string>>& files) {
  m_expected = files;
  if (files.size() > 1) m_multi = true;
  find_missing();
}

void ora_dump_set::find_missing() {
  m_missing.clear();
  m_more_after = false;
  std::set<int> present;
  for (const ora_dump_set_part& p : m_parts) present.insert(p.header.number);
  const int last = m_parts.back().header.number;
  std::map<int, tk_string> missing;
  for (int k = 1; k < last; ++k)
    if (present.count(k) == 0) missing.emplace(k, tk_string());

  const ora_dump_set_part& tail = m_parts.back();
  if (!m_datapump) {
    // A last part that is full and does not end the dump: exp went on in a
    // further file.
    const uint64_t part_size = m_parts.front().header.part_size;
    const int64_t block = tail.header.block > 0 ? tail.header.block : 2048;
    const bool full = part_size > 0 && static_cast<uint64_t>(tail.size + block) > part_size;
    if (m_multi && full && !ends_with_exit()) {
      missing.emplace(last + 1, tk_string());
      m_more_after = true;
    }
  } else {
    // Every piece of the master table must be there.
    int pieces = 0;
    std::set<int> have;
    for (const ora_dump_set_part& p : m_parts) {
      pieces = std::max(pieces, p.header.master_pieces);
      if (p.header.master_length > 0) have.insert(p.header.master_piece);
    }
    bool all = true;
    for (int k = 1; k <= pieces; ++k) all = all && have.count(k) != 0;
    if (!all && missing.empty()) {
      missing.emplace(last + 1, tk_string());
      m_more_after = true;
    }
  }
  int listed = 0;
  for (const auto& [number, name] : m_expected) {
    listed = std::max(listed, number);
    if (present.count(number) == 0) missing[number] = name;
  }
  // The master table's list is complete: nothing lies beyond it.
  if (listed > 0) m_more_after = false;
  for (const auto& [number, name] : missing) m_missing.emplace_back(number, name);
}

std::vector<tk_string> ora_dump_set::missing() const {
  std::vector<tk_string> out;
  for (const auto& [number, recorded] : m_missing) {
    tk_string name = recorded.empty() ? expected_name(number) : recorded;
    tk_string text = "part " + std::to_string(number);
    if (!name.empty()) {
      text += " '" + name + "'";
      // A file of that name that is no part of this dump: say so.
      if (is_regular(m_dir + name)) text += " (the file of that name belongs to another export)";
    }
    out.push_back(text);
  }
  if (m_more_after && !out.empty()) out.back() += " (and possibly further parts)";
  return out;
}

std::vector<tk_string> ora_dump_set::paths() const {
  std::vector<tk_string> out;
  for (const ora_dump_set_part& p : m_parts) out.push_back(p.path);
  return out;
}

std::vector<ora_dump_stream::extent> ora_dump_set::extents() const {
  std::vector<ora_dump_stream::extent> out;
  // Files missing after the last one present: what was read runs into them.
  const int last = m_parts.back().header.number;
  const bool missing_after = std::any_of(m_missing.begin(), m_missing.end(),
                                         [&](const auto& m) { return m.first > last; });
  int previous = 0;
  for (size_t i = 0; i < m_parts.size(); ++i) {
    const ora_dump_set_part& p = m_parts[i];
    const ora_dump_part_header& h = p.header;
    bool gap = h.number != previous + 1;
    previous = h.number;
    const int64_t start = i == 0 ? 0 : std::min<int64_t>(h.block, p.size);
    if (!m_datapump) {
      out.push_back({i, start, p.size - start, gap});
      if (i + 1 == m_parts.size() && missing_after) out.push_back({i, 0, 0, true});
      continue;
    }
    // Everything but the blocks of the master piece, which come last.
    int64_t cut0 = p.size, cut1 = p.size;
    if (h.master_length > 0 && h.master_offset >= start && h.master_offset < p.size) {
      cut0 = h.master_offset;
      const int64_t end = h.master_offset + h.master_length;
      cut1 = std::min<int64_t>(p.size, (end + h.block - 1) / h.block * h.block);
    }
    if (cut0 > start) {
      out.push_back({i, start, cut0 - start, gap});
      gap = false;
    }
    if (cut1 < p.size) out.push_back({i, cut1, p.size - cut1, gap});
  }
  if (!m_datapump) return out;
  // The master pieces in their order.
  std::vector<std::pair<int, size_t>> pieces;
  for (size_t i = 0; i < m_parts.size(); ++i) {
    const ora_dump_part_header& h = m_parts[i].header;
    if (h.master_length > 0 && h.master_offset < m_parts[i].size)
      pieces.emplace_back(h.master_piece > 0 ? h.master_piece : h.number, i);
  }
  std::sort(pieces.begin(), pieces.end());
  // The table data of missing later files would lie between the data read
  // and the master table.
  int expected = missing_after ? 0 : 1;
  int count = 0;
  for (const ora_dump_set_part& p : m_parts) count = std::max(count, p.header.master_pieces);
  for (const auto& [piece, i] : pieces) {
    const ora_dump_set_part& p = m_parts[i];
    const int64_t length = std::min(p.header.master_length, p.size - p.header.master_offset);
    out.push_back({i, p.header.master_offset, length, piece != expected});
    expected = piece + 1;
  }
  if (expected <= count) out.push_back({0, 0, 0, true});  // the last pieces are missing
  return out;
}
