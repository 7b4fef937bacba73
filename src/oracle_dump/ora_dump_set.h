// Dumps written as several files ("dump file sets").
//
// exp FILE=a.dmp,b.dmp FILESIZE=... and expdp DUMPFILE=exp%U.dmp
// FILESIZE=... split one export over several files, each with a header of its
// own. This module reads those headers, finds the files of one dump (the
// files given, and the files beside the first one that are numbered like it),
// works out which are missing, and lays their content out as the one logical
// byte space the dump stream reads:
//
// - classic: every file starts with a header block whose size is the
//   header's fourth line (the export buffer size, 1024 to 8192 bytes); its
//   part number (1 the first) and the part size exp was given follow the
//   character sets. The content of part k + 1 continues right where part k
//   ends, records and LOB values included. The logical dump is the first
//   file whole, then every later file without its header block.
//
// - Data Pump: files are made of blocks (the header's block size); block 0
//   is the header. The job's master table is written last, as pieces in
//   whatever blocks are free, first in the file that was being written and
//   then in earlier files; each file's header records the block and length
//   of the piece it holds, and a text field "001:001:<pieces>:<piece>" the
//   number of pieces and which one it is. Everything else (metadata, table
//   data) fills the files in the order they were created. The logical dump
//   is the first file whole and every later file without its header block,
//   all without the blocks of master pieces, followed by the master pieces in
//   their order, so the master table reads as one object like in a single
//   file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TK/tk_utils.h"
#include "oracle_dump/ora_dump_stream.h"

// What the header of one file says about its place in a dump.
struct ora_dump_part_header {
  bool valid = false;  // a classic or Data Pump header was recognised
  bool datapump = false;
  int number = 0;      // part number: 1 for the first (or only) file
  bool multi = false;  // the header says the dump has further files
  tk_string identity;  // what every file of one dump has in common
  // classic: the header block; Data Pump: the block size.
  int64_t block = 0;
  // classic: the part size exp was given (0 for a single file).
  uint64_t part_size = 0;
  // Data Pump: where this file's piece of the master table lies (offset 0:
  // none), and the piece's number among how many (0: not recorded).
  int64_t master_offset = 0;
  int64_t master_length = 0;
  int master_piece = 0;
  int master_pieces = 0;
};

// Reads the header of the file at path (the first block is enough). False,
// with `valid` unset, when the file cannot be read or holds no dump header.
bool ora_dump_read_part_header(const tk_string& path, ora_dump_part_header& out);
// Same, from the bytes of the file's start.
void ora_dump_parse_part_header(const uint8_t* data, size_t size, ora_dump_part_header& out);

// The files a name with a substitution variable stands for: %U (two digits,
// 01 to 99) or %L (two digits and more), as expdp's DUMPFILE= writes them,
// in either case. The files must exist; the result is ordered by number.
// A name without a variable yields itself when the file exists.
std::vector<tk_string> ora_dump_expand_pattern(const tk_string& pattern);
bool ora_dump_is_pattern(const tk_string& name);

struct ora_dump_set_part {
  tk_string path;
  int64_t size = 0;
  ora_dump_part_header header;
};

class ora_dump_set {
 public:
  // Resolves the files of the dump whose first given file is given[0] (the
  // others are further parts the user named). Raises tk_exception (level 1)
  // when a given file is not a dump, belongs to another dump, or when the
  // first part of a multi-file dump is not among the files available (the
  // non-leading-part refusal).
  void resolve(const std::vector<tk_string>& given);
  // Adds the file at path when it is a part of this dump not yet present;
  // true when it was added.
  bool add_if_part(const tk_string& path);
  // Part numbers expected besides those present (from the master table's
  // list of files, Data Pump) with the names the dump records for them.
  void expect_parts(const std::vector<std::pair<int, tk_string>>& files);

  bool is_multi() const { return m_multi; }
  bool datapump() const { return m_datapump; }
  const std::vector<ora_dump_set_part>& parts() const { return m_parts; }
  // "part 3 'exp03.dmp'" for every part known to be missing, by number.
  std::vector<tk_string> missing() const;
  // The folder of the first part and the name a part number has there,
  // derived from the first part's name ("" when the name has no number).
  tk_string expected_name(int number) const;

  // The paths of the present parts and the extents of the logical dump over
  // them (a gap where a part is missing).
  std::vector<tk_string> paths() const;
  std::vector<ora_dump_stream::extent> extents() const;

 private:
  void split_name(const tk_string& path, int number);
  void add_numbered_siblings();
  void find_missing();
  bool ends_with_exit() const;

  std::vector<ora_dump_set_part> m_parts;            // by part number
  std::vector<std::pair<int, tk_string>> m_missing;  // number, recorded name (may be empty)
  std::vector<std::pair<int, tk_string>> m_expected;
  // The dump goes on after the last part present (further parts may be
  // missing after the one named).
  bool m_more_after = false;
  bool m_multi = false;
  bool m_datapump = false;
  // The first part's name split around its number: prefix, digits, suffix.
  tk_string m_dir, m_prefix, m_suffix;
  size_t m_width = 0;
};
