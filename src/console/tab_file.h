// The table-list file of the console program (--tab_file=): one table name
// per line. Reading the names is kept apart from reading the file so that
// any bytes can be fed to it (tests, fuzzing).
#pragma once

#include <string_view>
#include <vector>

#include "TK/tk_utils.h"

// Well-formed UTF-8 without NUL bytes: a file of table names, not binary
// data.
bool tab_file_is_text(std::string_view content);
// The names of the file's content: one per line, exactly as written; CR LF
// and LF both end a line; empty lines are skipped. Lines of any length are
// read whole. A byte-order mark on the first non-empty line marks UTF-8,
// which is also what unmarked text is taken for.
std::vector<tk_wstring> tab_file_names(std::string_view content);
