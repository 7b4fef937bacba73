// CSV file naming and the CSV files already present in the destination.
#include "common/csv_vali.h"

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

// ---- character rule ------------------------------------------------------------

namespace {

// The process stays in the "C" locale (numbers print with a point), so the
// letter test uses a UTF-8 locale object of its own.
locale_t csv_ctype_locale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (l == static_cast<locale_t>(nullptr))
      l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

// Used only where no UTF-8 locale is installed: the letter blocks that table
// names use in practice.
bool csv_fallback_alnum(char32_t c) {
  if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (c >= 0xC0 && c <= 0x24F) return c != 0xD7 && c != 0xF7;  // Latin-1 letters, Latin Extended
  return (c >= 0x370 && c <= 0x3FF && c != 0x37E && c != 0x387) ||     // Greek
         (c >= 0x400 && c <= 0x52F && !(c >= 0x482 && c <= 0x489)) ||  // Cyrillic
         (c >= 0x5D0 && c <= 0x5EA) ||                                 // Hebrew
         (c >= 0x620 && c <= 0x64A) || (c >= 0x660 && c <= 0x669) ||   // Arabic
         (c >= 0x3041 && c <= 0x30FF && c != 0x30FB) ||                // Kana
         (c >= 0x4E00 && c <= 0x9FFF) ||                               // CJK ideographs
         (c >= 0xAC00 && c <= 0xD7A3);                                 // Hangul
}

// Code point at text[i]; advances i past it. A lone surrogate is returned as
// itself, which no test accepts.
char32_t csv_next_code_point(const tk_wstring& text, size_t& i) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i] - 0xDC00);
    ++i;
  }
  return c;
}

// UTF-8 length of a UTF-16 text.
size_t csv_utf8_bytes(const tk_wstring& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = csv_next_code_point(text, i);
    n += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  return n;
}

// The longest start of text that takes at most `bytes` UTF-8 bytes, cut
// between characters.
tk_wstring csv_cut_to_bytes(const tk_wstring& text, size_t bytes) {
  size_t n = 0, i = 0;
  while (i < text.size()) {
    size_t next = i;
    const char32_t c = csv_next_code_point(text, next);
    const size_t len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (n + len > bytes) break;
    n += len;
    i = next;
  }
  return text.substr(0, i);
}

bool csv_all_name_chars(const tk_wstring& name) {
  for (size_t i = 0; i < name.size();)
    if (!csv_is_name_char(csv_next_code_point(name, i))) return false;
  return true;
}

}  // namespace

bool csv_is_name_char(char32_t c) {
  if (c == U'_' || c == U'-') return true;
  if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  const locale_t loc = csv_ctype_locale();
  if (loc == static_cast<locale_t>(nullptr)) return csv_fallback_alnum(c);
  return iswalnum_l(static_cast<wint_t>(c), loc) != 0;
}

// ---- csv_validator -------------------------------------------------------------

csv_validator::csv_validator(const tk_wstring& folder) : udb_validator(0), folder(folder) {}

bool csv_validator::is_acceptable(const tk_wstring& name) const {
  if (log_enabled(1)) log_message(1, "csv_validator::is_acceptable(%s)", tk_u8(name).c_str());
  if (!udb_validator::is_acceptable(name)) return false;
  // Two Oracle names of 128 characters (OWNER.TABLE) are more than a file
  // system takes.
  if (csv_utf8_bytes(name) > csv_max_name_bytes) return false;
  return csv_all_name_chars(name);
}

tk_wstring csv_validator::get_safe_name(const tk_wstring& name) const {
  if (log_enabled(2)) log_message(2, "csv_validator::get_safe_name(%s)", tk_u8(name).c_str());
  tk_wstring base;
  base.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t start = i;
    if (csv_is_name_char(csv_next_code_point(name, i)))
      base.append(name, start, i - start);
    else
      base += u'_';
  }
  if (csv_utf8_bytes(base) > csv_max_name_bytes) base = csv_cut_to_bytes(base, csv_max_name_bytes);
  if (is_acceptable(base) && !is_duplicated(base)) return base;
  if (max_length != 0 && base.size() + 3 > max_length)
    base.resize(max_length > 3 ? max_length - 3 : 0);
  // Room for the counter.
  if (csv_utf8_bytes(base) + 3 > csv_max_name_bytes)
    base = csv_cut_to_bytes(base, csv_max_name_bytes - 3);
  for (int i = 0; i < 1000; ++i) {
    tk_wstring candidate = base + tk_u16(tk_format("%03d", i));
    if (is_acceptable(candidate) && !is_duplicated(candidate)) return candidate;
  }
  throw tk_mail_assertion(__FILE__, __LINE__);
}

// ---- csv_engine ----------------------------------------------------------------

namespace {

bool csv_ends_with_csv(const tk_wstring& name) {
  return name.size() >= 4 &&
         tk_wcompare_no_case(std::u16string_view(name).substr(name.size() - 4), u".csv");
}

tk_string csv_join(const tk_string& folder, const tk_string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

csv_engine::csv_engine(const tk_wstring& folder, const tk_wstring& prefix)
    : folder(folder), prefix(prefix) {
  const tk_string dir = tk_u8(folder);
  if (log_enabled(2)) log_message(2, "csv_engine::ctor(%s,%s)", dir.c_str(), tk_u8(prefix).c_str());
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  // The destination was checked and created before the run; a folder that
  // cannot be listed now is a broken invariant.
  if (d == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
  // The extension is matched without regard to case, as the file systems
  // this format comes from do: EMP.CSV counts as emp's file.
  while (const dirent* ent = ::readdir(d)) {
    const tk_string entry = ent->d_name;
    if (entry == "." || entry == "..") continue;
    tk_wstring lower = tk_lower(tk_u16(entry));
    if (!csv_ends_with_csv(lower)) continue;
    // Only files count; a folder named x.csv is no table's output.
    struct stat st {};
    if (::stat(csv_join(dir, entry).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    lower.resize(lower.size() - 4);
    m_existing.push_back(std::move(lower));
    m_files.push_back(entry);
  }
  ::closedir(d);
}

csv_engine::~csv_engine() { log_message(2, "csv_engine::dtor"); }

bool csv_engine::is_table_exist(const tk_wstring& name) const {
  if (log_enabled(1)) log_message(1, "csv_engine::is_table_exist(%s)", tk_u8(name).c_str());
  for (const tk_wstring& existing : m_existing) {
    if (tk_wcompare_no_case(existing, name)) {
      log_message(1, "table exists");
      return true;
    }
  }
  log_message(1, "table not found");
  return false;
}

tk_wstring csv_engine::get_full_file_name(const tk_wstring& name) const {
  if (log_enabled(1)) log_message(1, "csv_engine::get_full_file_name(%s)", tk_u8(name).c_str());
  tk_wstring file;
  if (!prefix.empty()) file = prefix + u"_";
  file += name;
  file = tk_lower(file);
  if (!csv_ends_with_csv(file)) file += u".csv";
  tk_wstring path = folder;
  if (!path.empty() && path.back() != u'/') path += u'/';
  return path + file;
}

bool csv_engine::delete_tab(const tk_wstring& name, const tk_string& keep) {
  if (log_enabled(1)) log_message(1, "csv_engine::delete_tab(%s)", tk_u8(name).c_str());
  const tk_string dir = tk_u8(folder);
  for (size_t i = 0; i < m_existing.size(); ++i) {
    if (!tk_wcompare_no_case(m_existing[i], name)) continue;
    const tk_string path = csv_join(dir, m_files[i]);
    if (path == keep) continue;
    // A file gone since the folder was listed leaves nothing to delete.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      const int err = errno;
      throw tk_exception_ex("Cannot delete file '" + path + "': ", 1, err);
    }
  }
  return true;
}
