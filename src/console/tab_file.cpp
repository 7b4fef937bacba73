// Names of a table-list file.
#include "console/tab_file.h"

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
