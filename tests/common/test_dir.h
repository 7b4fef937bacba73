// A fresh temporary folder per test, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class test_dir {
 public:
  test_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/talvex_test_XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) m_path = tmpl;
  }
  ~test_dir() {
    std::error_code ec;
    if (!m_path.empty()) {
      // Read-only folders would stop the removal.
      for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
           it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      std::filesystem::remove_all(m_path, ec);
    }
  }
  test_dir(const test_dir&) = delete;
  test_dir& operator=(const test_dir&) = delete;

  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

inline std::string test_read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void test_write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}
