// Text layer of the toolkit: the narrow and wide string types, the few
// operations the system adds to them, and the conversions between UTF-16 and
// narrow encodings.
//
// Inside the engine text is UTF-16 (tk_wstring). On this platform the "ANSI
// code page" of paths, console and narrow files is UTF-8; numbered code pages
// (Windows numbering, as Oracle character sets map to them) go through iconv.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using tk_string = std::string;
using tk_wstring = std::u16string;

// Code page numbers with a meaning of their own.
constexpr int CP_ANSI = 0;  // the platform's narrow code page: UTF-8 here
constexpr int CP_UTF8 = 65001;

// ---- string operations ----------------------------------------------------
std::vector<tk_string> tk_split(const tk_string& text, char separator);
tk_string tk_to_upper(tk_string& text);     // in place; returns a copy
tk_wstring tk_to_lower(tk_wstring& text);   // in place; returns a copy
tk_string tk_upper(std::string_view text);  // ASCII letters only
tk_wstring tk_lower(std::u16string_view text);
tk_wstring tk_upper(std::u16string_view text);
bool tk_compare_no_case(std::string_view a, std::string_view b);
// Case-insensitive equality of names: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters fold, other characters compare as they are.
bool tk_wcompare_no_case(std::u16string_view a, std::u16string_view b);
tk_wstring tk_replace_all(tk_wstring& text, const tk_wstring& from,
                          const tk_wstring& to);  // in place; returns a copy
tk_string tk_replace_all(tk_string& text, const tk_string& from, const tk_string& to);
tk_string tk_trim(std::string_view text);  // blanks (U+0020) only
tk_wstring tk_trim(std::u16string_view text);
bool tk_starts_with_no_case(std::string_view text, std::string_view prefix);

// ---- conversions ------------------------------------------------------------
// Narrow text in the given code page to UTF-16. The text ends at its first
// zero byte. Malformed input is replaced, never rejected; an unknown code page
// raises tk_exception_ex "Cannot convert to UNICODE string: " (level 0).
tk_wstring tk_ansi_to_ucs2(std::string_view text, int code_page = CP_ANSI);
tk_wstring tk_utf8_to_ucs2(std::string_view text);
// UTF-16 to narrow text; -1 or 0 means the ANSI code page.
tk_string tk_ucs2_to_ansi(std::u16string_view text, int code_page = -1);
tk_string tk_ucs2_to_utf8(std::u16string_view text);
// Appending forms for the row path: no allocation when out has room.
// tk_append_ucs2 decodes like tk_ansi_to_ucs2 (up to the first zero byte);
// tk_append_utf8_to_ucs2 decodes every byte (zero bytes become U+0000).
void tk_append_ucs2(tk_wstring& out, std::string_view text, int code_page = CP_ANSI);
void tk_append_utf8_to_ucs2(tk_wstring& out, std::string_view utf8);
// Appends the UTF-8 form of text to out (no allocation when out has room).
void tk_append_utf8(std::string& out, std::u16string_view text);
// Short forms for traces and messages.
inline tk_string tk_u8(std::u16string_view text) { return tk_ucs2_to_utf8(text); }
tk_wstring tk_u16(std::string_view utf8);

// iconv name of a Windows code page number, or nullptr when none is known.
const char* tk_code_page_name(int code_page);

// Hexadecimal rendering appended to out: two upper-case digits per byte,
// high digit first.
void tk_to_hex(const uint8_t* bytes, size_t n, std::string& out);

// printf into a std::string.
tk_string tk_format(const char* format, ...) __attribute__((format(printf, 1, 2)));
