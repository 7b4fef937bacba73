// File names, folders and existence tests.
#pragma once

#include <string>
#include <vector>

#include "TK/tk_utils.h"

// A path split into folder (with trailing '/'), base name and extension (with
// its dot). `drive` stays empty on this platform.
struct tk_file_name {
  explicit tk_file_name(const tk_string& name);  // made absolute, "." and ".." resolved
  tk_string get_drivepath() const { return drive + dir; }
  tk_string get_full_name() const { return drive + dir + fname + ext; }

  tk_string ext, drive, fname, dir;
};

struct tk_file_wname {
  explicit tk_file_wname(const tk_wstring& name);
  tk_wstring get_drivepath() const { return drive + dir; }
  tk_wstring get_full_name() const { return drive + dir + fname + ext; }

  tk_wstring ext, drive, fname, dir;
};

tk_string tk_get_module_file_name();
tk_string tk_get_module_dir();  // with trailing '/'
tk_wstring tk_get_user_home_wpath();

bool tk_is_path_exist(const tk_string& path);
bool tk_is_path_exist(const tk_wstring& path);

// mode 0x4000: exists and is not a folder; 1: exists, not a folder, writable;
// other: the file is created or emptied (raises tk_exception_ex on failure).
bool tk_is_file_exist1(const tk_string& name, int mode);
bool tk_is_file_exist2(const tk_wstring& name, int mode);

constexpr unsigned TK_GENERIC_WRITE = 0x40000000u;
bool tk_has_access(const tk_string& path, unsigned access);
bool tk_has_access(const tk_wstring& path, unsigned access);

// Names in a folder matching a glob pattern ("." and ".." left out), in the
// order the file system lists them. False when none match or listing failed.
bool tk_find_files(const tk_string& folder, const tk_string& pattern,
                   std::vector<tk_wstring>& names);

// True when a and b name the same existing file system object, or when
// `inner` lies inside folder `outer` (both resolved through symlinks; a folder
// counts as inside itself). False when either does not exist.
bool tk_same_file(const tk_string& a, const tk_string& b);
bool tk_path_inside(const tk_string& inner, const tk_string& outer);
