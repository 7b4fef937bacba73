// Command-line tokenizer of the console program: classifies each argument by
// the first option whose prefix it begins with (a flag, whose prefix has no
// '=', must match the whole argument), and collects the arguments that match
// none.
#pragma once

#include <string>
#include <vector>

// One row of an option table. The table ends with a row whose prefix is
// empty; an argument that reaches it is unrecognised.
struct cmd_option {
  int id;
  const char* prefix;
};

class TCmdLine {
 public:
  virtual ~TCmdLine() = default;
  // Advances to the following argument and classifies it.
  virtual void next() = 0;
  virtual bool has_more() const = 0;
};

class ansi_cmd_line : public TCmdLine {
 public:
  // Starts at argv[1]; argv[0] is the program path.
  ansi_cmd_line(int argc, char** argv, const cmd_option* table);

  void next() override;
  bool has_more() const override { return m_left > 0; }

  // Id of the current argument's option, -1 when it matched none.
  int option_id() const;
  // The text after the matched prefix.
  const char* value() const;
  const std::vector<std::string>& unrecognised() const { return m_unrecognised; }

 private:
  void classify();

  const cmd_option* m_table;
  char** m_arg = nullptr;
  int m_left = 0;
  int m_id = -1;
  const char* m_value = nullptr;
  std::vector<std::string> m_unrecognised;
};
