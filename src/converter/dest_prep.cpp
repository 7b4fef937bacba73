// Preparation of the destination folder before a conversion: write access,
// the "overwrite the entire folder" mode, and creation of missing folders.
//
// Mode 0 deletes everything in the destination. Because a mistyped --dest=
// could otherwise wipe out the user's data, it refuses to empty a folder that
// holds the source dump, the log file or the table-list file, the file system
// root, or a folder that is or holds the user's home folder.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
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

// Whether path (which may not exist yet, like a log file before its first
// message) is the folder itself or lies inside it.
bool dest_path_within(const tk_string& path, const tk_string& folder) {
  if (path.empty()) return false;
  if (::access(path.c_str(), F_OK) == 0)
    return tk_same_file(path, folder) || tk_path_inside(path, folder);
  const tk_string parent = dest_strip_slashes(tk_file_name(path).get_drivepath());
  return tk_same_file(parent, folder) || tk_path_inside(parent, folder);
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
  if (dest.empty()) throw tk_exception("You should enter path to CSV folder", 1);
  // The folder that must take the new destination (or its files): the
  // destination's parent. A trailing '/' names the same destination.
  const tk_string parent = tk_file_name(dest).get_drivepath();
  log_message(2, "fn_dest.get_drivepath=%s", parent.c_str());
  if (::access(parent.c_str(), W_OK | X_OK) != 0)
    throw tk_exception(
        "Cannot create or write into the destination folder.\nRun the program as Administrator or "
        "change folder.",
        1);
  struct stat st {};
  const bool exists = ::stat(dest.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode) && existing_folder_mode == 0) {
    log_message(2, "Overwrite entire folder");
    refuse_to_empty(dest);
    common_delete_path(tk_u16(dest), true);
  }
  if (exists && !S_ISDIR(st.st_mode))
    throw tk_exception("You should enter path to CSV folder, not a file name", 1);
  common_create_path(tk_u16(dest));
}
