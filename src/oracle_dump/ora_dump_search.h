// Positioning primitives shared by the catalogue scans and the table reader:
// neither dump format has an index, so tables, statements and data blocks are
// found by searching the raw file for byte patterns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "oracle_dump/ora_dump_stream.h"

// Searches forward from the current position for the pattern. When found,
// the stream stands just after the match, `found_at` holds that position and
// the answer is true; otherwise the stream stands at its end.
bool seek_to_symbols(ora_dump_stream& s, const void* pattern, size_t length, int64_t& found_at);
bool seek_to_symbols(ora_dump_stream& s, std::string_view pattern, int64_t& found_at);
// Same, for a single byte (memchr).
bool seek_to_byte(ora_dump_stream& s, uint8_t byte, int64_t& found_at);

// Positions the stream absolutely.
inline void safe_seekg(ora_dump_stream& s, int64_t pos) { s.seek(pos); }

// The trimmed text between the current position and the next "(" (up to a
// 0x00 byte among it); the stream then stands just before the "(". Empty when
// there is no "(".
std::string read_name_before_paren(ora_dump_stream& s);

// The name without one pair of enclosing quote characters (names of at least
// three characters only).
std::string embellish_name(std::string_view name, char quote);

// Appends the payload of the Data Pump metadata block between two positions,
// without its chunk headers, followed by two 0x00 bytes.
void extract_xml(int64_t start, int64_t end, ora_dump_stream& s, std::vector<uint8_t>& out);
