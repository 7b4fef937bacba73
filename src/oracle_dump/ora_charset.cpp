// Oracle character set ids, their code pages and the decoding of dump text.
#include "oracle_dump/ora_charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {

struct id_name {
  int id;
  const char* name;
};

// Oracle character set id -> charset name.
const id_name k_ora_cp_table[] = {
    {1, "us-ascii"},
    {2, "dec-mcs"},
    {4, "cp437"},
    {5, "cp037"},
    {6, "cp500"},
    {7, "cp01140"},
    {8, "cp285"},
    {9, "cp01146"},
    {10, "cp850"},
    {11, "din_66003"},
    {12, "nf_z_62-010_(1973)"},
    {14, "es"},
    {15, "sen_850200_b"},
    {17, "it"},
    {20, "jus_i.b1.002"},
    {27, "cp01148"},
    {28, "cp00858"},
    {31, "iso-8859-1"},
    {32, "iso-8859-2"},
    {33, "iso-8859-3"},
    {34, "iso-8859-4"},
    {35, "iso-8859-5"},
    {36, "iso-8859-6"},
    {37, "iso-8859-7"},
    {38, "iso-8859-8-i"},
    {39, "iso-8859-9"},
    {40, "iso-8859-10"},
    {41, "tis-620"},
    {45, "windows-1258"},
    {46, "iso-8859-15"},
    {47, "iso-8859-13"},
    {48, "iso-8859-14"},
    {51, "koi8-u"},
    {70, "cp420"},
    {90, "cp037"},
    {91, "cp500"},
    {92, "cp424"},
    {93, "cp1026"},
    {94, "cp871"},
    {95, "cp284"},
    {96, "ibm1047"},
    {97, "cp01140"},
    {98, "cp01145"},
    {99, "cp01148"},
    {100, "ibm1047"},
    {101, "cp00924"},
    {150, "cp852"},
    {152, "cp866"},
    {154, "cp862"},
    {155, "cp855"},
    {156, "cp857"},
    {160, "cp860"},
    {161, "cp861"},
    {170, "windows-1250"},
    {171, "windows-1251"},
    {174, "windows-1253"},
    {175, "windows-1255"},
    {177, "windows-1254"},
    {178, "windows-1252"},
    {179, "windows-1257"},
    {180, "cp273"},
    {181, "cp280"},
    {182, "ibm277"},
    {183, "cp278"},
    {184, "cp870"},
    {186, "cp297"},
    {189, "cp01141"},
    {190, "cp865"},
    {196, "koi8-r"},
    {197, "cp775"},
    {198, "cp01142"},
    {199, "cp01143"},
    {200, "cp01144"},
    {203, "sen_850200_c"},
    {204, "ns_4551-1"},
    {205, "ns_4551-1"},
    {206, "it"},
    {207, "din_66003"},
    {208, "cp01147"},
    {251, "dec-mcs"},
    {261, "hp-roman8"},
    {301, "cp870"},
    {312, "cp1026"},
    {315, "cp424"},
    {316, "cp870"},
    {320, "cp420"},
    {327, "cp423"},
    {351, "macintosh"},
    {352, "macintosh"},
    {385, "cp869"},
    {386, "cp851"},
    {390, "cp863"},
    {558, "dos-720"},
    {560, "windows-1256"},
    {829, "euc-jp"},
    {830, "euc-jp"},
    {831, "euc-jp"},
    {832, "shift_jis"},
    {834, "shift_jis"},
    {837, "euc-jp"},
    {838, "shift_jis"},
    {840, "euc-kr"},
    {846, "euc-kr"},
    {850, "gbk"},
    {852, "gbk"},
    {854, "gb18030"},
    {865, "big5"},
    {867, "big5"},
    {868, "big5-hkscs"},
    {871, "utf-8"},
    {873, "utf-8"},
    {992, "big5-hkscs"},
    {2000, "utf-16be"},
};

struct name_cp {
  const char* name;
  int cp;
};

// Charset name -> Windows code page (the first row of a name wins).
const name_cp k_ms_cp_table[] = {
    {"ibm037", 37},
    {"ibm437", 437},
    {"ibm500", 500},
    {"asmo-708", 708},
    {"dos-720", 720},
    {"ibm737", 737},
    {"ibm775", 775},
    {"ibm850", 850},
    {"ibm852", 852},
    {"ibm855", 855},
    {"ibm857", 857},
    {"ibm00858", 858},
    {"ibm860", 860},
    {"ibm861", 861},
    {"dos-862", 862},
    {"ibm863", 863},
    {"ibm864", 864},
    {"ibm865", 865},
    {"cp866", 866},
    {"ibm869", 869},
    {"ibm870", 870},
    {"tis-620", 874},
    {"cp875", 875},
    {"shift_jis", 932},
    {"gb2312", 936},
    {"ks_c_5601-1987", 949},
    {"big5", 950},
    {"ibm1026", 1026},
    {"ibm01047", 1047},
    {"ibm01140", 1140},
    {"ibm01141", 1141},
    {"ibm01142", 1142},
    {"ibm01143", 1143},
    {"ibm01144", 1144},
    {"ibm01145", 1145},
    {"ibm01146", 1146},
    {"ibm01147", 1147},
    {"ibm01148", 1148},
    {"ibm01149", 1149},
    {"utf-16", 1200},
    {"unicodefffe", 1201},
    {"windows-1250", 1250},
    {"windows-1251", 1251},
    {"windows-1252", 1252},
    {"windows-1253", 1253},
    {"windows-1254", 1254},
    {"windows-1255", 1255},
    {"windows-1256", 1256},
    {"windows-1257", 1257},
    {"windows-1258", 1258},
    {"johab", 1361},
    {"macintosh", 10000},
    {"x-mac-japanese", 10001},
    {"x-mac-chinesetrad", 10002},
    {"x-mac-korean", 10003},
    {"x-mac-arabic", 10004},
    {"x-mac-hebrew", 10005},
    {"x-mac-greek", 10006},
    {"x-mac-cyrillic", 10007},
    {"x-mac-chinesesimp", 10008},
    {"x-mac-romanian", 10010},
    {"x-mac-ukrainian", 10017},
    {"x-mac-thai", 10021},
    {"x-mac-ce", 10029},
    {"x-mac-icelandic", 10079},
    {"x-mac-turkish", 10081},
    {"x-mac-croatian", 10082},
    {"utf-32", 12000},
    {"utf-32be", 12001},
    {"x-chinese-cns", 20000},
    {"x-cp20001", 20001},
    {"x-chinese-eten", 20002},
    {"x-cp20003", 20003},
    {"x-cp20004", 20004},
    {"x-cp20005", 20005},
    {"x-ia5", 20105},
    {"x-ia5-german", 20106},
    {"x-ia5-swedish", 20107},
    {"x-ia5-norwegian", 20108},
    {"us-ascii", 20127},
    {"x-cp20261", 20261},
    {"x-cp20269", 20269},
    {"ibm273", 20273},
    {"ibm277", 20277},
    {"ibm278", 20278},
    {"ibm280", 20280},
    {"ibm284", 20284},
    {"ibm285", 20285},
    {"ibm290", 20290},
    {"ibm297", 20297},
    {"ibm420", 20420},
    {"ibm423", 20423},
    {"ibm424", 20424},
    {"x-ebcdic-koreanextended", 20833},
    {"ibm-thai", 20838},
    {"koi8-r", 20866},
    {"ibm871", 20871},
    {"ibm880", 20880},
    {"ibm905", 20905},
    {"ibm00924", 20924},
    {"euc-jp", 20932},
    {"x-cp20936", 20936},
    {"x-cp20949", 20949},
    {"cp1025", 21025},
    {"koi8-u", 21866},
    {"iso-8859-1", 28591},
    {"iso-8859-2", 28592},
    {"iso-8859-3", 28593},
    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},
    {"iso-8859-7", 28597},
    {"iso-8859-8", 28598},
    {"iso-8859-9", 28599},
    {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},
    {"x-europa", 29001},
    {"iso-8859-8-i", 38598},
    {"iso-2022-jp", 50220},
    {"csiso2022jp", 50221},
    {"iso-2022-jp", 50222},
    {"iso-2022-kr", 50225},
    {"x-cp50227", 50227},
    {"euc-jp", 51932},
    {"euc-cn", 51936},
    {"euc-kr", 51949},
    {"hz-gb-2312", 52936},
    {"gb18030", 54936},
    {"x-iscii-de", 57002},
    {"x-iscii-be", 57003},
    {"x-iscii-ta", 57004},
    {"x-iscii-te", 57005},
    {"x-iscii-as", 57006},
    {"x-iscii-or", 57007},
    {"x-iscii-ka", 57008},
    {"x-iscii-ma", 57009},
    {"x-iscii-gu", 57010},
    {"x-iscii-pa", 57011},
    {"utf-7", 65000},
    {"utf-8", 65001},
};

// The real encodings of Oracle character sets, for the text decoders. The
// two tables above leave several common sets without a code page (GBK,
// WE8PC850, WE8ISO8859P1's siblings...) or map a set to a narrower one
// (KO16MSWIN949 is Windows' Unified Hangul Code, not plain EUC-KR).
const std::unordered_map<int, const char*>& real_encodings() {
  static const std::unordered_map<int, const char*> m = {
      {1, "ASCII"},        {2, "DEC-MCS"},      {4, "CP437"},        {5, "IBM037"},
      {6, "IBM500"},       {8, "IBM285"},       {10, "CP850"},       {28, "CP858"},
      {31, "ISO-8859-1"},  {32, "ISO-8859-2"},  {33, "ISO-8859-3"},  {34, "ISO-8859-4"},
      {35, "ISO-8859-5"},  {36, "ISO-8859-6"},  {37, "ISO-8859-7"},  {38, "ISO-8859-8"},
      {39, "ISO-8859-9"},  {40, "ISO-8859-10"}, {41, "TIS-620"},     {45, "CP1258"},
      {46, "ISO-8859-15"}, {47, "ISO-8859-13"}, {48, "ISO-8859-14"}, {51, "KOI8-U"},
      {150, "CP852"},      {152, "CP866"},      {154, "CP862"},      {155, "CP855"},
      {156, "CP857"},      {160, "CP860"},      {161, "CP861"},      {170, "CP1250"},
      {171, "CP1251"},     {174, "CP1253"},     {175, "CP1255"},     {177, "CP1254"},
      {178, "CP1252"},     {179, "CP1257"},     {190, "CP865"},      {196, "KOI8-R"},
      {197, "CP775"},      {261, "HP-ROMAN8"},  {351, "MACINTOSH"},  {352, "MACINTOSH"},
      {385, "CP869"},      {390, "CP863"},      {558, "CP720"},      {560, "CP1256"},
      {829, "EUC-JP"},     {830, "EUC-JP"},     {831, "EUC-JP"},     {832, "CP932"},
      {834, "CP932"},      {837, "EUC-JP"},     {838, "CP932"},      {840, "EUC-KR"},
      {846, "CP949"},      {850, "GBK"},        {852, "GBK"},        {854, "GB18030"},
      {865, "BIG5"},       {867, "CP950"},      {868, "BIG5-HKSCS"}, {871, "UTF-8"},
      {873, "UTF-8"},      {992, "BIG5-HKSCS"}, {2000, "UTF-16BE"},
  };
  return m;
}

bool iconv_known(const char* name) {
  iconv_t cd = iconv_open("UTF-16LE", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

constexpr char16_t k_replacement = 0xFFFD;

}  // namespace

// ---- ora_text_decoder ---------------------------------------------------------

ora_text_decoder::ora_text_decoder(const std::string& encoding) : m_encoding(encoding) {
  if (encoding == "UTF-8") {
    m_kind = 1;
    return;
  }
  if (encoding == "UTF-16BE") {
    m_kind = 2;
    return;
  }
  iconv_t cd = iconv_open("UTF-16LE", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // Unknown to this platform: fall back to Windows-1252 rather than fail
    // every value of the dump.
    m_encoding = "CP1252";
    cd = iconv_open("UTF-16LE", "CP1252");
    if (cd == reinterpret_cast<iconv_t>(-1))
      throw tk_exception_ex("Cannot convert to UNICODE string: ", 0);
  }
  // A single-byte encoding decodes every byte on its own: build the table.
  bool single = true;
  for (int b = 0; b < 256 && single; ++b) {
    char in = static_cast<char>(b);
    char16_t out[4] = {};
    char* pin = &in;
    size_t nin = 1;
    char* pout = reinterpret_cast<char*>(out);
    size_t nout = sizeof(out);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t r = iconv(cd, &pin, &nin, &pout, &nout);
    if (r == static_cast<size_t>(-1)) {
      if (errno == EINVAL) single = false;  // lead byte of a multi-byte sequence
      m_table[b] = k_replacement;
    } else {
      const size_t units = (sizeof(out) - nout) / 2;
      if (units != 1) single = single && units == 1;
      m_table[b] = units >= 1 ? out[0] : k_replacement;
    }
  }
  if (single) {
    m_kind = 0;
    iconv_close(cd);
    for (int b = 0; b < 256; ++b) {
      std::string u;
      tk_append_utf8(u, std::u16string_view(&m_table[b], 1));
      m_utf8[b][0] = static_cast<char>(u.size());
      u.copy(&m_utf8[b][1], 3);
    }
    m_ascii = true;
    for (int b = 0; b < 0x80; ++b) m_ascii = m_ascii && m_table[b] == b;
  } else {
    m_kind = 3;
    m_iconv = cd;
  }
}

namespace {

// Well-formed UTF-8: the bytes the replacing decoder takes without a U+FFFD
// and without its CESU-8 leniency, so that decoding them and encoding the
// result again gives them back. A table-driven automaton with no branch on
// the byte's value; runs of ASCII go eight at a time. Each byte's row packs
// the next state of every state (6 bits each, a state being its bit
// offset), so a step is a shift of a row loaded independently of the
// state, not a chain of dependent loads.
enum utf8_state : uint8_t {
  u8_accept,
  u8_one,     // one continuation byte to come
  u8_two,     // two
  u8_three,   // three
  u8_e0,      // after E0: A0-BF, then one more
  u8_ed,      // after ED: 80-9F (no surrogates), then one more
  u8_f0,      // after F0: 90-BF, then two more
  u8_f4,      // after F4: 80-8F (up to U+10FFFF), then two more
  u8_reject,  // absorbing
  u8_states
};

struct utf8_automaton {
  uint8_t next[u8_states][256];
  uint64_t row[256] = {};
  utf8_automaton() {
    for (int st = 0; st < u8_states; ++st) {
      for (int b = 0; b < 256; ++b) {
        uint8_t to = u8_reject;
        const bool cont = b >= 0x80 && b <= 0xBF;
        switch (st) {
          case u8_accept:
            if (b < 0x80)
              to = u8_accept;
            else if (b >= 0xC2 && b <= 0xDF)
              to = u8_one;
            else if (b == 0xE0)
              to = u8_e0;
            else if (b == 0xED)
              to = u8_ed;
            else if (b >= 0xE1 && b <= 0xEF)
              to = u8_two;
            else if (b == 0xF0)
              to = u8_f0;
            else if (b >= 0xF1 && b <= 0xF3)
              to = u8_three;
            else if (b == 0xF4)
              to = u8_f4;
            break;
          case u8_one:
            if (cont) to = u8_accept;
            break;
          case u8_two:
            if (cont) to = u8_one;
            break;
          case u8_three:
            if (cont) to = u8_two;
            break;
          case u8_e0:
            if (b >= 0xA0 && b <= 0xBF) to = u8_one;
            break;
          case u8_ed:
            if (b >= 0x80 && b <= 0x9F) to = u8_one;
            break;
          case u8_f0:
            if (b >= 0x90 && b <= 0xBF) to = u8_two;
            break;
          case u8_f4:
            if (b >= 0x80 && b <= 0x8F) to = u8_two;
            break;
          default:
            break;
        }
        next[st][b] = to;
      }
    }
    for (int b = 0; b < 256; ++b)
      for (int st = 0; st < u8_states; ++st)
        row[b] |= static_cast<uint64_t>(6 * next[st][b]) << (6 * st);
  }
};

const utf8_automaton k_utf8;

bool well_formed_utf8(const uint8_t* p, size_t n) {
  size_t i = 0;
  uint64_t st = 6 * u8_accept;
  while (i < n) {
    if (st == 6 * u8_accept) {
      // Eight ASCII bytes at a time.
      while (i + 8 <= n) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull) break;
        i += 8;
      }
    }
    // Then up to sixteen bytes through the automaton before looking for
    // ASCII runs again.
    const size_t stop = i + 16 < n ? i + 16 : n;
    for (; i < stop; ++i) st = (k_utf8.row[p[i]] >> st) & 63;
    if (st == 6 * u8_reject) return false;
  }
  return st == 6 * u8_accept;
}

}  // namespace

bool ora_text_decoder::to_utf8(const uint8_t* p, size_t n, std::string& out) const {
  if (m_kind == 1) {
    if (!well_formed_utf8(p, n)) return false;
    out.append(reinterpret_cast<const char*>(p), n);
    return true;
  }
  if (m_kind != 0) return false;
  const size_t base = out.size();
  out.resize(base + 3 * n);
  char* d = out.data() + base;
  for (size_t i = 0; i < n; ++i) {
    // Runs of ASCII, where the set agrees with it, eight bytes at a time.
    while (m_ascii && i + 8 <= n) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080ull) break;
      std::memcpy(d, &w, 8);
      d += 8;
      i += 8;
    }
    if (i == n) break;
    const char* u = m_utf8[p[i]];
    // Always copy three bytes; the length says how many count.
    d[0] = u[1];
    d[1] = u[2];
    d[2] = u[3];
    d += static_cast<uint8_t>(u[0]);
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return true;
}

ora_text_decoder::~ora_text_decoder() {
  if (m_iconv != nullptr) iconv_close(static_cast<iconv_t>(m_iconv));
}

void ora_text_decoder::decode(const uint8_t* p, size_t n, tk_wstring& out) const {
  switch (m_kind) {
    case 0: {
      const size_t base = out.size();
      out.resize(base + n);
      char16_t* d = out.data() + base;
      for (size_t i = 0; i < n; ++i) d[i] = m_table[p[i]];
      return;
    }
    case 1:
      tk_append_utf8_to_ucs2(out, std::string_view(reinterpret_cast<const char*>(p), n));
      return;
    case 2:
      for (size_t i = 0; i + 1 < n; i += 2)
        out.push_back(static_cast<char16_t>((p[i] << 8) | p[i + 1]));
      if (n % 2) out.push_back(k_replacement);
      return;
    default:
      break;
  }
  iconv_t cd = static_cast<iconv_t>(m_iconv);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* pin = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
  size_t nin = n;
  char16_t buf[512];
  while (nin > 0) {
    char* pout = reinterpret_cast<char*>(buf);
    size_t nout = sizeof(buf);
    const size_t r = iconv(cd, &pin, &nin, &pout, &nout);
    out.append(buf, (sizeof(buf) - nout) / 2);
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Invalid or truncated sequence: replace one byte and go on.
      out.push_back(k_replacement);
      ++pin;
      --nin;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

// ---- ora_charsets -------------------------------------------------------------

ora_charsets::ora_charsets() = default;
ora_charsets::~ora_charsets() = default;

std::unique_ptr<ora_charsets> ora_charsets::clone() const {
  auto c = std::make_unique<ora_charsets>();
  c->m_client_id = m_client_id;
  c->m_char_set = m_char_set;
  c->m_nchar_set = m_nchar_set;
  c->m_ansi_char_set = m_ansi_char_set;
  c->m_db_id = m_db_id;
  c->m_nchar_id = m_nchar_id;
  return c;
}

const char* ora_charsets::ora_charset_name(int ora_id) {
  for (const auto& r : k_ora_cp_table)
    if (r.id == ora_id) return r.name;
  return nullptr;
}

int ora_charsets::get_code_page(int ora_id) {
  const char* name = ora_charset_name(ora_id);
  if (name == nullptr) return 0;
  for (const auto& r : k_ms_cp_table)
    if (std::strcmp(r.name, name) == 0) return r.cp;
  return 0;
}

std::string ora_charsets::encoding_of(int ora_id) {
  const auto& real = real_encodings();
  if (auto it = real.find(ora_id); it != real.end() && iconv_known(it->second)) return it->second;
  if (const int cp = get_code_page(ora_id); cp != 0) {
    if (const char* name = tk_code_page_name(cp); name != nullptr && iconv_known(name)) return name;
  }
  // No known encoding: Windows-1252 keeps ASCII intact and every other byte
  // visible, where UTF-8 would turn each of them into U+FFFD.
  return "CP1252";
}

int ora_charsets::get_cp(uint8_t b0, uint8_t b1) {
  const int id = (b0 << 8) | b1;
  if (id == 2000) return ORA_CS_UTF16;
  if (id == 871 || id == 873) return ORA_CS_UTF8;
  m_ansi_char_set = get_code_page(id);
  log_message(3, "m_ansi_char_set=%d", m_ansi_char_set);
  return ORA_CS_SINGLE;
}

void ora_charsets::set_database_charset(int ora_id) {
  m_db_id = ora_id;
  m_char_set = get_cp(static_cast<uint8_t>(ora_id >> 8), static_cast<uint8_t>(ora_id));
}

void ora_charsets::set_national_charset(int ora_id) {
  m_nchar_id = ora_id;
  m_nchar_set = get_cp(static_cast<uint8_t>(ora_id >> 8), static_cast<uint8_t>(ora_id));
}

const ora_text_decoder& ora_charsets::decoder_for(int ora_id) const {
  auto it = m_decoders.find(ora_id);
  if (it == m_decoders.end())
    it = m_decoders.emplace(ora_id, std::make_unique<ora_text_decoder>(encoding_of(ora_id))).first;
  return *it->second;
}

void ora_charsets::decode(int ora_id, const uint8_t* p, size_t n, tk_wstring& out) const {
  decoder_for(ora_id).decode(p, n, out);
}

void ora_charsets::decode(int ora_id, const uint8_t* p, size_t n, ole_variant& out) const {
  decoder_for(ora_id).decode(p, n, out);
}

void ora_charsets::get_wstring(const uint8_t* p, size_t n, bool national, tk_wstring& out) const {
  out.clear();
  if (n == 0) return;
  if (p[0] == 0 && n % 2 == 0) {
    // Stored as UTF-16BE whatever the character set; ends at a zero unit.
    for (size_t i = 0; i + 1 < n; i += 2) {
      const char16_t u = static_cast<char16_t>((p[i] << 8) | p[i + 1]);
      if (u == 0) break;
      out.push_back(u);
    }
    return;
  }
  decode(national ? m_nchar_id : m_db_id, p, n, out);
}

tk_wstring ora_charsets::get_wstring(const uint8_t* p, size_t n, bool national) const {
  tk_wstring out;
  get_wstring(p, n, national, out);
  return out;
}
