// File names, folders, existence and access tests. Names are UTF-8; paths are
// made absolute lexically (no file system access), so a name may refer to
// something that does not exist yet, such as a CSV file about to be written.
#include "TK/tk_fname.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {

// Absolute form of name with "." and ".." resolved on the text alone; a
// trailing '/' (the name of a folder) is kept.
tk_string make_full_path(const tk_string& name) {
  tk_string path;
  if (name.empty() || name[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
    path = cwd;
    path += '/';
  }
  path += name;

  std::vector<std::string_view> parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();  // ".." of the root is the root
      continue;
    }
    parts.push_back(part);
  }
  tk_string full;
  for (auto part : parts) {
    full += '/';
    full += part;
  }
  if (full.empty() || name.back() == '/') full += '/';
  return full;
}

void split_full_path(const tk_string& full, tk_file_name& out) {
  size_t slash = full.rfind('/');
  out.dir = full.substr(0, slash + 1);
  tk_string base = full.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot == tk_string::npos) {
    out.fname = base;
    out.ext.clear();
  } else {
    out.fname = base.substr(0, dot);
    out.ext = base.substr(dot);
  }
}

bool stat_path(const tk_string& path, struct stat& st) {
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

}  // namespace

tk_file_name::tk_file_name(const tk_string& name) {
  log_message(1, "tk_file_name::ctor(%s)", name.c_str());
  if (name.empty()) {
    // An empty name stands for the program's own folder.
    split_full_path(tk_get_module_file_name(), *this);
    fname.clear();
    ext.clear();
    return;
  }
  split_full_path(make_full_path(name), *this);
}

tk_file_wname::tk_file_wname(const tk_wstring& name) {
  tk_file_name narrow(tk_ucs2_to_utf8(name));
  ext = tk_utf8_to_ucs2(narrow.ext);
  drive = tk_utf8_to_ucs2(narrow.drive);
  fname = tk_utf8_to_ucs2(narrow.fname);
  dir = tk_utf8_to_ucs2(narrow.dir);
}

tk_string tk_get_module_file_name() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) throw tk_mail_assertion(__FILE__, __LINE__);
  return tk_string(path, static_cast<size_t>(n));
}

tk_string tk_get_module_dir() { return tk_file_name(tk_get_module_file_name()).get_drivepath(); }

tk_wstring tk_get_user_home_wpath() {
  log_message(1, "tk_get_user_home_wpath");
  tk_string home;
  if (const char* env = getenv("HOME"); env != nullptr && *env != '\0') {
    home = env;
  } else {
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr)
      home = result->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home.empty()) {
    log_message(2, "CreateFile error: %08X", static_cast<unsigned>(ENOENT));
    return tk_wstring();
  }
  log_message(2, "Gor user's home: %s", home.c_str());
  return tk_utf8_to_ucs2(home);
}

bool tk_is_path_exist(const tk_string& path) {
  log_message(1, "tk_is_path_exist(%s)", path.c_str());
  if (path.empty()) return true;  // stands for the program's folder
  struct stat st;
  // "Can be made the current directory": a folder we may search.
  return stat_path(path, st) && S_ISDIR(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool tk_is_path_exist(const tk_wstring& path) { return tk_is_path_exist(tk_ucs2_to_utf8(path)); }

bool tk_is_file_exist1(const tk_string& name, int mode) {
  log_message(1, "tk_is_file_exist1(%s,%d)", name.c_str(), mode);
  struct stat st;
  if (mode == 0x4000) return stat_path(name, st) && !S_ISDIR(st.st_mode);
  if (mode == 1) {
    if (!stat_path(name, st) || S_ISDIR(st.st_mode)) return false;
    // No owner write bit plays the part of the read-only attribute (which
    // holds even for an administrator, as it does here for root).
    return (st.st_mode & S_IWUSR) != 0 && access(name.c_str(), W_OK) == 0;
  }
  int fd = open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw tk_exception_ex(std::string(), 1);
  close(fd);
  return true;
}

bool tk_is_file_exist2(const tk_wstring& name, int mode) {
  return tk_is_file_exist1(tk_ucs2_to_utf8(name), mode);
}

bool tk_has_access(const tk_string& path, unsigned access_mask) {
  struct stat st;
  if (!stat_path(path, st)) return false;
  int want = 0;
  if (access_mask & 0x80000000u) want |= R_OK;       // GENERIC_READ
  if (access_mask & TK_GENERIC_WRITE) want |= W_OK;  // GENERIC_WRITE
  if (access_mask & 0x20000000u) want |= X_OK;       // GENERIC_EXECUTE
  if (access_mask & 0x10000000u) want |= R_OK | W_OK | X_OK;
  // Creating files in a folder needs search permission as well.
  if (S_ISDIR(st.st_mode) && (want & W_OK)) want |= X_OK;
  if (want == 0) want = F_OK;
  return access(path.c_str(), want) == 0;
}

bool tk_has_access(const tk_wstring& path, unsigned access_mask) {
  return tk_has_access(tk_ucs2_to_utf8(path), access_mask);
}

bool tk_find_files(const tk_string& folder, const tk_string& pattern,
                   std::vector<tk_wstring>& names) {
  log_message(2, "tk_temp_chdir::find_files(%s)", pattern.c_str());
  names.clear();
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    log_message(2, "No files found");
    return false;
  }
  // On Windows "*.*" matches every name, with or without a dot.
  const char* glob = pattern == "*.*" ? "*" : pattern.c_str();
  bool failed = false;
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      failed = errno != 0;
      break;
    }
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    if (fnmatch(glob, name, 0) != 0) continue;
    log_message(2, "Found file: %s", name);
    names.push_back(tk_utf8_to_ucs2(name));
  }
  closedir(dir);
  if (failed) {
    log_message(2, "Couldn't find next file");
    return false;
  }
  if (names.empty()) {
    log_message(2, "No files found");
    return false;
  }
  log_message(2, "No more files");
  return true;
}

bool tk_same_file(const tk_string& a, const tk_string& b) {
  struct stat sa, sb;
  if (!stat_path(a, sa) || !stat_path(b, sb)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool tk_path_inside(const tk_string& inner, const tk_string& outer) {
  if (inner.empty() || outer.empty()) return false;
  char real_inner[PATH_MAX], real_outer[PATH_MAX];
  if (realpath(inner.c_str(), real_inner) == nullptr) return false;
  if (realpath(outer.c_str(), real_outer) == nullptr) return false;
  struct stat st;
  if (stat(real_outer, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  std::string_view in(real_inner), out(real_outer);
  if (in == out) return true;  // a folder counts as inside itself
  if (out == "/") return true;
  return in.size() > out.size() && in.compare(0, out.size(), out) == 0 && in[out.size()] == '/';
}
