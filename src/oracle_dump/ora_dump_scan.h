// Catalogue scan of a classic (exp) dump: one pass over the file, line by
// line, recording where each table's definition, rows, indexes and ALTER
// statements lie. Nothing of the rows is decoded here.
#pragma once

#include <functional>

#include "oracle_dump/ora_charset.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_stream.h"

// Scans from the stream's position to its end and fills the context's table
// map and sequence list; leaves the stream at offset 0. `qualify` names the
// tables by the user of the last CONNECT statement (SALES.EMP).
void find_ora_objects(ora_dump_stream& s, ora_dump_file::context& ctx, const ora_charsets& cs,
                      bool qualify, const std::function<void(int64_t)>& progress);
