// Runs TALVEXCLI as a user would, from a shell, with its output and exit
// status captured in files of a test folder.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/test_dir.h"

struct run_result {
  int status = -1;
  std::string out, err;
};

inline std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Standard input is empty; stdout and stderr go to `dir`.
inline run_result run_talvexcli(const test_dir& dir, const std::vector<std::string>& args) {
  std::string cmd = shell_quote(TALVEXCLI_PATH);
  for (const std::string& a : args) cmd += " " + shell_quote(a);
  cmd += " </dev/null >" + shell_quote(dir / "stdout") + " 2>" + shell_quote(dir / "stderr");
  const int rc = std::system(cmd.c_str());
  run_result r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = test_read_file(dir / "stdout");
  r.err = test_read_file(dir / "stderr");
  return r;
}
