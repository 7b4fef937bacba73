// Character sets of a dump and the decoding of stored text to UTF-16.
//
// Oracle names a character set by a number. Two tables map that number to a
// charset name and the name to a Windows code page; the code page picks the
// decoder. Ids whose real encoding is known but which those tables leave
// without a code page (10 WE8PC850, say) are decoded with that encoding, and
// "no code page" means Windows-1252, never UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "TK/tk_utils.h"
#include "values/ole_var.h"

// Encoding class of a character set.
enum : int { ORA_CS_SINGLE = 0, ORA_CS_UTF8 = 1, ORA_CS_UTF16 = 2 };

// Decodes bytes of one encoding to UTF-16. Single-byte encodings use a
// 256-entry table; multi-byte ones go through iconv.
class ora_text_decoder {
 public:
  // encoding: an iconv name ("CP1252", "GBK", "UTF-8", "UTF-16BE", ...).
  explicit ora_text_decoder(const std::string& encoding);
  ~ora_text_decoder();
  ora_text_decoder(const ora_text_decoder&) = delete;
  ora_text_decoder& operator=(const ora_text_decoder&) = delete;

  // Appends the decoded text to out. Invalid sequences become U+FFFD.
  void decode(const uint8_t* p, size_t n, tk_wstring& out) const;
  // Appends the text as UTF-8 when that needs no detour through UTF-16:
  // a single-byte encoding, or UTF-8 bytes that are well-formed. False
  // (and `out` as it was) otherwise; decode() then gives the same text.
  bool to_utf8(const uint8_t* p, size_t n, std::string& out) const;
  // The text into a value (VT_BSTR): UTF-8 where to_utf8 allows, else UTF-16.
  void decode(const uint8_t* p, size_t n, ole_variant& out) const {
    if (!to_utf8(p, n, out.utf8_text_buffer())) decode(p, n, out.text_buffer());
  }
  const std::string& encoding() const { return m_encoding; }

 private:
  std::string m_encoding;
  int m_kind = 0;  // 0 table, 1 UTF-8, 2 UTF-16BE, 3 iconv
  char16_t m_table[256] = {};
  // UTF-8 form of each byte of a single-byte encoding: length, then bytes.
  char m_utf8[256][4] = {};
  bool m_ascii = false;     // bytes below 0x80 are ASCII
  void* m_iconv = nullptr;  // iconv_t, used only from the converting thread
};

class ora_charsets {
 public:
  ora_charsets();
  ~ora_charsets();
  // The same character sets with decoders of its own: decoders keep state
  // (iconv handles), so each thread that decodes needs its own.
  std::unique_ptr<ora_charsets> clone() const;

  // Windows code page of an Oracle character set id, 0 when the tables have
  // none.
  static int get_code_page(int ora_id);
  // iconv name used to decode text of an Oracle character set id.
  static std::string encoding_of(int ora_id);
  static const char* ora_charset_name(int ora_id);  // nullptr when unknown

  // Header id bytes (big-endian): returns the encoding class and, for class
  // 0, records the code page.
  int get_cp(uint8_t b0, uint8_t b1);

  // The dump's database and national character sets (Oracle ids).
  void set_database_charset(int ora_id);
  void set_national_charset(int ora_id);
  int database_charset() const { return m_db_id; }
  int national_charset() const { return m_nchar_id; }

  // Text of a stored value in the database (or national) character set.
  // A value whose first byte is 0x00 and whose length is even is UTF-16BE
  // whatever the character set.
  void get_wstring(const uint8_t* p, size_t n, bool national, tk_wstring& out) const;
  tk_wstring get_wstring(const uint8_t* p, size_t n, bool national = false) const;
  // Text of a value stored in the character set with the given Oracle id.
  void decode(int ora_id, const uint8_t* p, size_t n, tk_wstring& out) const;
  // The same into a value (VT_BSTR): as UTF-8 where the bytes allow it,
  // which is the text the CSV file gets without a round trip.
  void decode(int ora_id, const uint8_t* p, size_t n, ole_variant& out) const;
  // The decoder of a character set, for callers that decode many values of
  // one set and keep it at hand.
  const ora_text_decoder& decoder(int ora_id) const { return decoder_for(ora_id); }

  // Character set of the export client (classic header bytes 1-2): the
  // statement text of a classic dump is written in it.
  int m_client_id = 0;

  int m_char_set = ORA_CS_SINGLE;
  int m_nchar_set = ORA_CS_UTF16;
  int m_ansi_char_set = 0;

 private:
  const ora_text_decoder& decoder_for(int ora_id) const;

  int m_db_id = 0;
  int m_nchar_id = 2000;
  mutable std::map<int, std::unique_ptr<ora_text_decoder>> m_decoders;
};
