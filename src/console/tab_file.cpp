// Names of a table-list file.
#include "console/tab_file.h"

bool tab_file_is_text(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0) return false;
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

std::vector<tk_wstring> tab_file_names(std::string_view content) {
  std::vector<tk_wstring> names;
  bool first = true;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t eol = content.find('\n', pos);
    if (eol == std::string_view::npos) eol = content.size();
    std::string_view line = content.substr(pos, eol - pos);
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (first) {
      first = false;
      if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
      if (line.empty()) continue;
    }
    names.push_back(tk_u16(line));
  }
  return names;
}
