// Preparation of the destination folder before a conversion: write access,
// the "overwrite the entire folder" mode, and creation of missing folders.
//
// Mode 0 exists to clear the files of an earlier conversion. It empties a
// destination only when everything in it is something this program writes
// (CSV files, their temporary files, BLOB side files), and keeps the folder
// itself (it may be a mount point or the current folder). A folder holding
// anything else is refused and nothing is deleted, and so is a folder that
// holds the source dump, the log file or the table-list file, the file system
// root, or a folder that is or holds the user's home folder. Nothing is
// deleted before the dump has been opened and recognised.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
#include "common/csv_util.h"
#include "converter/talvex_convertor.h"

namespace {

bool dest_is_dir(const tk_string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

tk_string dest_strip_slashes(tk_string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The folder that holds path as it is written (a symbolic link is not
// followed: its own folder counts).
tk_string dest_folder_of(const tk_string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == tk_string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Whether path (which may not exist yet, like a log file before its first
// message) is the folder itself or lies inside it: as the path is given (a
// link inside the folder) or as it resolves (a link to a file inside it).
bool dest_path_within(const tk_string& path, const tk_string& folder) {
  if (path.empty()) return false;
  const tk_string parent = dest_folder_of(path);
  if (tk_same_file(parent, folder) || tk_path_inside(parent, folder)) return true;
  return ::access(path.c_str(), F_OK) == 0 &&
         (tk_same_file(path, folder) || tk_path_inside(path, folder));
}

bool dest_ends_with_no_case(const tk_string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return name.size() > n && strncasecmp(name.c_str() + name.size() - n, suffix, n) == 0;
}

// What this program writes into a destination: table files (*.csv, any case
// of the extension), the same while being written (*.csv.tmp), and BLOB side
// files (<table>_<n>, no extension) next to their table's CSV file. Names
// never begin with a dot. `csv_bases` holds the lower-case names of the
// folder's CSV files without ".csv".
bool dest_is_ours(const tk_string& name, bool file_or_link, const std::set<tk_string>& csv_bases) {
  if (!file_or_link || name.empty() || name[0] == '.') return false;
  if (dest_ends_with_no_case(name, ".csv")) return true;
  if (dest_ends_with_no_case(name, (tk_string(".csv") + csv_temp_suffix).c_str())) return true;
  const size_t underscore = name.find_last_of('_');
  if (underscore == tk_string::npos || underscore == 0 || underscore + 1 == name.size())
    return false;
  for (size_t i = underscore + 1; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  return csv_bases.count(tk_u8(tk_lower(tk_u16(name.substr(0, underscore))))) != 0;
}

struct dest_entry {
  tk_string name;
  bool ours = false;
  bool folder = false;
};

// The entries of the folder, each marked as this program's or not. Raises
// tk_exception_ex when the folder cannot be listed.
std::vector<dest_entry> dest_list(const tk_string& path) {
  std::vector<dest_entry> entries;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    const int err = errno;
    if (err == ENOENT) return entries;
    throw tk_exception_ex("Cannot open folder '" + path + "': ", 1, err);
  }
  std::set<tk_string> csv_bases;
  std::vector<std::pair<dest_entry, bool>> raw;
  for (;;) {
    errno = 0;
    const dirent* ent = ::readdir(dir);
    if (ent == nullptr) {
      const int err = errno;
      ::closedir(dir);
      if (err != 0) throw tk_exception_ex("Cannot list folder '" + path + "': ", 1, err);
      break;
    }
    dest_entry e;
    e.name = ent->d_name;
    if (e.name == "." || e.name == "..") continue;
    struct stat st {};
    const tk_string full = path == "/" ? "/" + e.name : path + "/" + e.name;
    const bool known = ::lstat(full.c_str(), &st) == 0;
    const bool file_or_link = known && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
    e.folder = known && S_ISDIR(st.st_mode);
    if (file_or_link && dest_ends_with_no_case(e.name, ".csv"))
      csv_bases.insert(tk_u8(tk_lower(tk_u16(e.name.substr(0, e.name.size() - 4)))));
    raw.emplace_back(e, file_or_link);
  }
  for (auto& [e, file_or_link] : raw) {
    e.ours = dest_is_ours(e.name, file_or_link, csv_bases);
    entries.push_back(e);
  }
  return entries;
}

// Refuses (level 1, nothing deleted) a folder that holds entries this
// program did not write, naming up to three of them.
void dest_refuse_foreign(const tk_string& dest, const std::vector<dest_entry>& entries) {
  std::vector<tk_string> foreign;
  for (const dest_entry& e : entries)
    if (!e.ours) foreign.push_back(e.folder ? e.name + "/" : e.name);
  if (foreign.empty()) return;
  std::sort(foreign.begin(), foreign.end());
  tk_string names;
  for (size_t i = 0; i < foreign.size() && i < 3; ++i) names += (i == 0 ? "" : ", ") + foreign[i];
  if (foreign.size() > 3) names += tk_format(" and %zu more", foreign.size() - 3);
  throw tk_exception(
      tk_format("Cannot overwrite the entire folder '%s': it holds files this program did not "
                "write (%s).\nChoose a new or empty folder, or mode 1 or 2 to keep the folder's "
                "other files.",
                dest.c_str(), names.c_str()),
      1);
}

using dest_dir_ptr = std::unique_ptr<DIR, int (*)(DIR*)>;

// Empties the folder and removes it; returns false when something had to
// stay (an entry beginning with a dot, a subfolder when not recursive) and
// the folder was therefore kept. A symbolic link is removed as a file, never
// followed, so nothing outside the destination is touched.
bool dest_delete_folder(const tk_string& path, bool recursive) {
  dest_dir_ptr dir(::opendir(path.c_str()), &::closedir);
  if (!dir) {
    const int err = errno;
    if (err == ENOENT) return true;
    throw tk_exception_ex("Cannot open folder '" + path + "': ", 1, err);
  }
  bool kept = false;
  for (;;) {
    errno = 0;
    const dirent* ent = ::readdir(dir.get());
    if (ent == nullptr) {
      const int err = errno;
      if (err != 0) throw tk_exception_ex("Cannot list folder '" + path + "': ", 1, err);
      break;
    }
    const tk_string name = ent->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.') {
      kept = true;
      continue;
    }
    const tk_string full = path == "/" ? "/" + name : path + "/" + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0) {
      const int err = errno;
      if (err == ENOENT) continue;
      throw tk_exception_ex("Cannot delete '" + full + "': ", 1, err);
    }
    if (S_ISDIR(st.st_mode)) {
      if (!recursive || !dest_delete_folder(full, true)) kept = true;
      continue;
    }
    if (::unlink(full.c_str()) != 0) {
      const int err = errno;
      throw tk_exception_ex("Cannot delete file '" + full + "': ", 1, err);
    }
  }
  dir.reset();
  if (kept) return false;
  struct stat self {};
  // A destination given as a link to a folder: the folder was emptied, the
  // link stays.
  if (::lstat(path.c_str(), &self) == 0 && S_ISLNK(self.st_mode)) return false;
  if (::rmdir(path.c_str()) != 0) {
    const int err = errno;
    throw tk_exception_ex("Cannot remove folder '" + path + "': ", 1, err);
  }
  return true;
}

void dest_make_dir(const tk_string& path) {
  if (log_enabled(1)) log_message(1, "tmp_path=%s", path.c_str());
  if (::mkdir(path.c_str(), 0777) == 0) return;
  const int err = errno;
  if (err == EEXIST && dest_is_dir(path)) return;
  throw tk_exception_ex("Cannot create folder '" + path + "': ", 1, err);
}

}  // namespace

void common_delete_path(const tk_wstring& path, bool recursive) {
  const tk_string p = dest_strip_slashes(tk_u8(path));
  log_message(2, "common_delete_path(%s)", p.c_str());
  if (p.empty()) return;
  dest_delete_folder(p, recursive);
}

void common_create_path(const tk_wstring& path) {
  tk_string current = dest_strip_slashes(tk_u8(path));
  log_message(2, "common_create_path(%s)", current.c_str());
  if (current.empty()) throw tk_exception("The program cannot resolve the path specified", 1);
  if (dest_is_dir(current)) return;
  // Walk up to the first level that exists, remembering the missing ones.
  std::vector<tk_string> missing;
  for (;;) {
    const size_t slash = current.find_last_of('/');
    const tk_string last = slash == tk_string::npos ? current : current.substr(slash + 1);
    if (last.empty()) throw tk_exception("The program cannot resolve the path specified", 1);
    tk_string parent;
    if (slash == tk_string::npos)
      parent.assign(1, '.');
    else
      parent.assign(current, 0, slash);
    if (parent.empty()) parent.assign(1, '/');
    parent = dest_strip_slashes(parent);
    if (log_enabled(1)) {
      log_message(1, "Store level '%s'", last.c_str());
      log_message(1, "Drivepath=%s", parent.c_str());
    }
    if (dest_is_dir(parent)) break;
    missing.push_back(last);
    current = parent;
  }
  dest_make_dir(current);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    current += "/" + *it;
    dest_make_dir(current);
  }
}

void talvex_convertor::refuse_to_empty(const tk_string& dest) const {
  auto refuse = [&dest](const char* why) {
    throw tk_exception(tk_format("Cannot overwrite the entire folder '%s': %s.\nChoose another "
                                 "destination folder or another mode.",
                                 dest.c_str(), why),
                       1);
  };
  if (tk_same_file(dest, "/")) refuse("it is the root of the file system");
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    if (tk_same_file(dest, home)) refuse("it is your home folder");
    if (tk_path_inside(home, dest)) refuse("it contains your home folder");
  }
  if (dest_path_within(tk_u8(source_file), dest)) refuse("it contains the source dump file");
  if (dest_path_within(log_file, dest)) refuse("it contains the log file");
  if (dest_path_within(table_list_file, dest)) refuse("it contains the table list file");
  for (const tk_string& profile : profile_files)
    if (dest_path_within(profile, dest)) refuse("it contains the settings profile");
}

void talvex_convertor::check_dest() {
  const tk_string dest = dest_strip_slashes(tk_u8(dest_folder));
  log_message(2, "talvex_convertor::check_dest(%s)", dest.c_str());
  m_empty_dest = false;
  if (dest.empty()) throw tk_exception("You should enter path to CSV folder", 1);
  // The folder that must take the new destination (or its files): the
  // destination's parent. A trailing '/' names the same destination.
  const tk_string parent = tk_file_name(dest).get_drivepath();
  log_message(2, "fn_dest.get_drivepath=%s", parent.c_str());
  if (::access(parent.c_str(), W_OK | X_OK) != 0) {
    const int err = errno;
    throw tk_exception(tk_format("Cannot create or write into the destination folder '%s': %s "
                                 "('%s').\nChoose another folder or check its permissions.",
                                 dest.c_str(), strerror(err), dest_strip_slashes(parent).c_str()),
                       1);
  }
  struct stat st {};
  const bool exists = ::stat(dest.c_str(), &st) == 0;
  if (exists && !S_ISDIR(st.st_mode))
    throw tk_exception("You should enter path to CSV folder, not a file name", 1);
  if (exists && existing_folder_mode == 0) {
    log_message(2, "Overwrite entire folder");
    refuse_to_empty(dest);
    dest_refuse_foreign(dest, dest_list(dest));
    m_empty_dest = true;
  }
}

void talvex_convertor::prepare_dest() {
  const tk_string dest = dest_strip_slashes(tk_u8(dest_folder));
  if (m_empty_dest) {
    m_empty_dest = false;
    // Listed again: the folder may have changed while the dump was read.
    const std::vector<dest_entry> entries = dest_list(dest);
    dest_refuse_foreign(dest, entries);
    for (const dest_entry& e : entries) {
      const tk_string full = dest == "/" ? "/" + e.name : dest + "/" + e.name;
      if (::unlink(full.c_str()) != 0 && errno != ENOENT) {
        const int err = errno;
        throw tk_exception_ex("Cannot delete file '" + full + "': ", 1, err);
      }
    }
  }
  common_create_path(tk_u16(dest));
}
