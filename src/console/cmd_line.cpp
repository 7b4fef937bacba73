// Command-line tokenizer of the console program.
#include "console/cmd_line.h"

#include <cstring>

#include "TK/tk_exc.h"

ansi_cmd_line::ansi_cmd_line(int argc, char** argv, const cmd_option* table) : m_table(table) {
  TK_ASSERT(table != nullptr);
  if (argc > 1 && argv != nullptr) {
    m_arg = argv + 1;
    m_left = argc - 1;
    classify();
  }
}

void ansi_cmd_line::next() {
  TK_ASSERT(m_left > 0);
  ++m_arg;
  --m_left;
  if (m_left > 0) classify();
}

int ansi_cmd_line::option_id() const {
  TK_ASSERT(m_left > 0);
  return m_id;
}

const char* ansi_cmd_line::value() const {
  TK_ASSERT(m_left > 0);
  return m_value;
}

void ansi_cmd_line::classify() {
  const char* arg = *m_arg != nullptr ? *m_arg : "";
  for (const cmd_option* row = m_table;; ++row) {
    const size_t len = std::strlen(row->prefix);
    if (std::strncmp(arg, row->prefix, len) != 0) continue;
    // A flag (a prefix without '=') matches only whole: --silentX is no
    // --silent but an unknown option.
    if (len > 0 && row->prefix[len - 1] != '=' && arg[len] != '\0') continue;
    if (len == 0) {
      // Every unrecognised argument is kept: the caller shows the usage for
      // any number of them.
      m_id = -1;
      m_value = arg;
      m_unrecognised.emplace_back(arg);
    } else {
      m_id = row->id;
      m_value = arg + len;
    }
    return;
  }
}
