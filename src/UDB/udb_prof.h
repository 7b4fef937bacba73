// Settings profiles: the text file in which a converter keeps the settings of
// a conversion so that it can be run again (TALVEXCLI --profile=, and the
// wizard's "Load Settings" and "Save Settings"). udb_profile reads and writes
// the file; the converters map its keys onto their members.
//
// The file is UTF-8 without a byte-order mark, lines end in CR LF (LF alone
// is read too). "[name]" starts a section; each entry of a section is one
// line "key=value", split at the first "=". Blanks (U+0020) around a line and
// around a key do not count. A line without "=" is an entry whose value is
// empty; "Selected Tables" is written that way, one table name per line.
// Sections are written in the ordinal order of their names, each followed by
// an empty line.
//
// A profile is user-edited text, so reading is strict: whatever the reader
// cannot take as written (a byte-order mark, UTF-16, invalid UTF-8, a zero
// byte, a line over 4095 bytes, a "[" line without "]", text before the first
// section, a file without sections) is refused with the file and line. And
// what the format cannot hold (an "=" in a key, blanks at its ends, a line
// break, a key beginning with "[") is refused when storing, so that a stored
// profile always reads back exactly.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "TK/tk_utils.h"

class udb_profile {
 public:
  struct entry {
    tk_wstring key;
    tk_wstring value;
    int64_t line = 0;    // line of the file it was read from; 0 when set in memory
    bool plain = false;  // read from a line without "="
  };
  using entry_list = std::vector<entry>;

  static constexpr char16_t available_queries[] = u"Available Queries";
  static constexpr char16_t selected_tables[] = u"Selected Tables";
  static constexpr char16_t selected_views[] = u"Selected Views";
  static constexpr char16_t generic_settings[] = u"Generic settings";
  // Longest line read or written, line end not counted.
  static constexpr size_t max_line_bytes = 4095;

  // Creates the four generic sections, which are therefore always written.
  udb_profile();

  // Reads a profile file into this object (sections met again are
  // continued). Raises tk_exception (level 1): "Profile does not exist.
  // Please verify the correct path/name was given." for a missing file or a
  // folder, otherwise a message that names the file and the line. Returns
  // true.
  bool load(const tk_wstring& path);
  // The same reading rules over bytes in memory; name is the file name the
  // messages give.
  void read(std::string_view bytes, const tk_string& name);

  // Writes the profile to path, replacing the file only once the whole text
  // is written (a failure leaves an earlier profile as it was). An existing
  // file that is not empty and is not a profile is not overwritten. Raises
  // tk_exception (level 1) or tk_exception_ex; returns true.
  bool store(const tk_wstring& path) const;
  // The bytes store writes. Raises tk_exception (level 1) naming the first
  // entry that the format cannot hold.
  std::string to_text() const;

  // The value of the first entry with that key (exact comparison), empty
  // when the section or the key is absent.
  tk_wstring get_value(const tk_wstring& section, const tk_wstring& key) const;
  const entry* find(const tk_wstring& section, const tk_wstring& key) const;
  // Appends an entry, creating the section when missing.
  void set_value(const tk_wstring& section, const tk_wstring& key, const tk_wstring& value);

  // The entries of a section (an empty list when it is absent).
  const entry_list& get_section(const tk_wstring& name) const;
  const entry_list& get_available_queries() const { return get_section(available_queries); }
  const entry_list& get_selected_tables() const { return get_section(selected_tables); }
  const entry_list& get_selected_views() const { return get_section(selected_views); }
  const std::map<tk_wstring, entry_list>& sections() const { return m_sections; }
  // Lines without "=" as they were read, blanks kept.
  const std::vector<tk_wstring>& get_plain_lines(const tk_wstring& section) const;
  // Line of the first header of a section read from the file, 0 when none.
  int64_t section_line(const tk_wstring& name) const;

  // "Profile '<file>', line <n>": the start of every message about a line.
  tk_string where(int64_t line) const;
  const tk_string& file_name() const { return m_file_name; }

 private:
  class reader;

  std::map<tk_wstring, entry_list> m_sections;
  std::map<tk_wstring, std::vector<tk_wstring>> m_plain_lines;
  std::map<tk_wstring, int64_t> m_header_lines;
  tk_string m_file_name;
};
