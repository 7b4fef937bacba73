// Calendar value of VT_DATE: parsing of the date texts found in table
// definitions, validity, and the fixed printed forms the CSV files carry.
#include "values/ole_date.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {

// Dates are written by Oracle with '.' seconds, whatever the user's locale.
double c_atof(const char* text) {
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text, nullptr, c_locale);
}

bool is_leap(int year) {
  if (year <= 0) ++year;
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  static const int k_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : k_days[month - 1];
}

// Scanned fields must fit the calendar's 16-bit fields; a minus sign that
// sscanf let through means the text was no date of ours.
bool fits(int v) { return v >= 0 && v <= 0xFFFF; }

bool only_blanks(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return *p == '\0';
}

// Decimal digits, at least `width` of them ("%0*u"), written at d; returns
// the end. Dates are printed for every value of every date column, so the
// text is assembled in a small buffer and appended once, without printf.
char* put_digits(char* d, unsigned value, int width) {
  char buf[12];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) *d++ = '0';
  while (n > 0) *d++ = buf[--n];
  return d;
}

// Two digits of a value below 100 (the fields of a valid date and time).
inline char* put_two(char* d, unsigned value) {
  if (value >= 100) return put_digits(d, value, 2);
  d[0] = static_cast<char>('0' + value / 10);
  d[1] = static_cast<char>('0' + value % 10);
  return d + 2;
}

char* put_date(char* d, const tk_systemtime& st) {
  if (st.year >= 1000 && st.year <= 9999) {
    d = put_two(d, st.year / 100u);
    d = put_two(d, st.year % 100u);
  } else {
    d = put_digits(d, st.year, 4);
  }
  *d++ = '-';
  d = put_two(d, st.month);
  *d++ = '-';
  return put_two(d, st.day);
}

// Digits needed to write a fraction of nanoseconds without losing a digit.
int needed_fraction_digits(uint32_t ns) {
  int digits = 9;
  while (digits > 0 && ns % 10 == 0) {
    ns /= 10;
    --digits;
  }
  return digits;
}

char* put_time(char* d, const ole_date& v, int precision) {
  const tk_systemtime& st = v.st;
  d = put_two(d, st.hour % 24u);
  *d++ = ':';
  d = put_two(d, st.minute);
  *d++ = ':';
  d = put_two(d, st.second);
  const uint32_t ns = v.fraction_ns();
  if (precision == 0 || ns == 0) return d;
  // A column that declares its fraction digits (TIMESTAMP(9)) prints that
  // many, as Oracle shows them; otherwise milliseconds, microseconds or
  // nanoseconds, whichever the value needs. Never fewer than the value holds.
  int digits;
  if (v.fraction_digits != 0) {
    digits = v.fraction_digits > 9 ? 9 : v.fraction_digits;
  } else if (v.nanoseconds != 0) {
    digits = 9;
  } else if (precision == 6 && v.microseconds != 0) {
    digits = 6;
  } else {
    digits = 3;
  }
  // More than the column declares (a damaged or foreign value): milli-,
  // micro- or nanoseconds, whichever holds it all.
  const int needed = needed_fraction_digits(ns);
  if (digits < needed) digits = needed <= 3 ? 3 : needed <= 6 ? 6 : 9;
  uint32_t value = ns;
  for (int i = digits; i < 9; ++i) value /= 10;
  *d++ = '.';
  return put_digits(d, value, digits);
}

// " +hh:mm" of a value that carries its time zone.
char* put_zone(char* d, const ole_date& v) {
  if (!v.has_zone) return d;
  int32_t minutes = v.time_zone;
  *d++ = ' ';
  *d++ = minutes < 0 ? '-' : '+';
  if (minutes < 0) minutes = -minutes;
  d = put_digits(d, static_cast<unsigned>(minutes / 60), 2);
  *d++ = ':';
  return put_digits(d, static_cast<unsigned>(minutes % 60), 2);
}

// The narrow form of a pure time carries a zero date; the wide form, used
// when a date is converted to text, does not.
void append_form(const ole_date& v, std::string& out, int precision, bool narrow) {
  // The longest form: 5-digit year, 10-digit fields of a damaged zone.
  char buf[96];
  char* d = buf;
  switch (v.kind) {
    case ole_date::pure_date:
      if (v.fraction_ns() == 0 && !v.has_zone) {
        d = put_date(d, v.st);
        break;
      }
      // A fraction or zone set after the fields were refined to a pure date:
      // print them rather than lose them.
      [[fallthrough]];
    case ole_date::datetime: {
      // A midnight value prints as a date, unless it has a fraction of a
      // second (a TIMESTAMP of 00:00:00.000000400 must keep it) or a zone.
      bool midnight = v.st.hour == 0 && v.st.minute == 0 && v.st.second == 0 &&
                      v.fraction_ns() == 0 && !v.has_zone;
      d = put_date(d, v.st);
      if (midnight && v.date_only) break;
      *d++ = ' ';
      d = put_time(d, v, precision);
      d = put_zone(d, v);
      break;
    }
    case ole_date::pure_time:
      if (narrow) {
        std::memcpy(d, "0000-00-00 ", 11);
        d += 11;
      }
      d = put_time(d, v, precision);
      d = put_zone(d, v);
      break;
    default:
      return;
  }
  out.append(buf, static_cast<size_t>(d - buf));
}

// The date of a day number (days since 1970-01-01).
void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

}  // namespace

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

ole_date::ole_date(const tk_systemtime& s) : kind(datetime), st(s) { refine_type(); }

ole_date::ole_date(const tk_string& text) {
  tk_string t = tk_trim(text);
  for (const char* marker : {"AM", "PM", "am", "pm"}) {
    size_t pos = t.find(marker);
    if (pos != tk_string::npos) {
      t = tk_trim(std::string_view(t).substr(0, pos));
      break;
    }
  }
  if (t.size() <= 4) {
    log_message(2, "Invalid date/time format: '%s'", text.c_str());
    return;
  }
  import_from_string(t);
  if (kind == invalid) return;
  // 12 PM stays 12 and so does 12 AM: the texts we read never hold either.
  bool pm = text.find("PM", 1) != tk_string::npos || text.find("pm", 1) != tk_string::npos;
  if (pm && st.hour < 12) st.hour = static_cast<uint16_t>(st.hour + 12);
}

bool ole_date::import_from_string(const tk_string& text) {
  const char* s = text.c_str();
  auto reset = [this] {
    st = tk_systemtime();
    microseconds = 0;
    nanoseconds = 0;
    kind = invalid;
  };
  auto swap_day_year = [this] {
    if (st.day > 31 && st.year < 32) {
      log_message(2, "Swap day and year: day=%d, year=%d", st.day, st.year);
      std::swap(st.day, st.year);
    }
  };

  // 1: YYYYMMDDhhmmss
  if (text.size() == 14) {
    reset();
    int y, mo, d, h, mi, se;
    if (sscanf(s, "%4d%02d%02d%02d%02d%02d", &y, &mo, &d, &h, &mi, &se) == 6 && fits(y) &&
        fits(mo) && fits(d) && fits(h) && fits(mi) && fits(se)) {
      st.year = static_cast<uint16_t>(y);
      st.month = static_cast<uint16_t>(mo);
      st.day = static_cast<uint16_t>(d);
      st.hour = static_cast<uint16_t>(h);
      st.minute = static_cast<uint16_t>(mi);
      st.second = static_cast<uint16_t>(se);
      swap_day_year();
      kind = datetime;
      if (is_valid()) return true;
    }
  }
  // 2: YYYYMMDD
  if (text.size() == 8) {
    reset();
    int y, mo, d;
    if (sscanf(s, "%4d%02d%02d", &y, &mo, &d) == 3 && fits(y) && fits(mo) && fits(d)) {
      st.year = static_cast<uint16_t>(y);
      st.month = static_cast<uint16_t>(mo);
      st.day = static_cast<uint16_t>(d);
      kind = pure_date;
      if (is_valid()) return true;
    }
  }
  // 3: hh:mm[:ss[.fraction]]
  {
    reset();
    int h, mi;
    char seconds[64] = "";
    int items = sscanf(s, "%d:%d:%63s", &h, &mi, seconds);
    if ((items == 3 || (items == 2 && seconds[0] == '\0')) && fits(h) && fits(mi)) {
      st.hour = static_cast<uint16_t>(h);
      st.minute = static_cast<uint16_t>(mi);
      if (items == 3) process_milliseconds(seconds);
      kind = pure_time;
      if (is_valid()) return true;
    }
  }
  // 4: year, month and day with '-', '/' or '.', optionally followed by a time
  for (const char* pattern :
       {"%d-%d-%d %d:%d:%63s", "%d/%d/%d %d:%d:%63s", "%d.%d.%d %d:%d:%63s"}) {
    reset();
    int y, mo, d, h = 0, mi = 0;
    char seconds[64] = "";
    int items = sscanf(s, pattern, &y, &mo, &d, &h, &mi, seconds);
    if (items < 3 || !fits(y) || !fits(mo) || !fits(d) || !fits(h) || !fits(mi)) continue;
    if (items == 3) {
      // A date alone must be the whole text: "2023-12-31T10:00" is no pure date.
      char date_only[] = "%d?%d?%d%n";
      date_only[2] = date_only[5] = pattern[2];
      int used = 0;
      if (sscanf(s, date_only, &y, &mo, &d, &used) != 3 || !only_blanks(s + used)) continue;
    } else if (items == 4) {
      continue;
    }
    st.year = static_cast<uint16_t>(y);
    st.month = static_cast<uint16_t>(mo);
    st.day = static_cast<uint16_t>(d);
    swap_day_year();
    if (items == 3) {
      kind = pure_date;
    } else {
      st.hour = static_cast<uint16_t>(h);
      st.minute = static_cast<uint16_t>(mi);
      if (items == 6) process_milliseconds(seconds);  // 5 items: hh:mm, seconds 0
      kind = datetime;
      refine_type();
    }
    if (is_valid()) return true;
  }
  // 5 (the platform's locale-dependent parser) has no counterpart here.
  reset();
  log_message(2, "Invalid date/time format: '%s'", s);
  return false;
}

bool ole_date::is_valid() const {
  if (kind == invalid) return false;
  if (st.day == 0 && st.month == 0 && st.year == 0) {
    log_message(1, "DATETIME is a pute time");
    return st.minute <= 60 && st.second <= 60;
  }
  if (st.month == 0 || st.month > 12) {
    log_message(1, "Invalid month");
    return false;
  }
  if (st.day > 31) {
    log_message(1, "Invalid day (1)");
    return false;
  }
  if (st.day > days_in_month(st.year, st.month)) {
    log_message(1, "Invalid day (2)");
    return false;
  }
  if (st.year == 0 || st.day == 0) {
    log_message(1, "Got zero day/month/year");
    return false;
  }
  if (st.minute > 60 || st.second > 60) {
    log_message(2, "Invalid time");
    return false;
  }
  return true;
}

void ole_date::process_milliseconds(const char* seconds_text) {
  TK_ASSERT(seconds_text != nullptr);
  double s = c_atof(seconds_text);
  if (!(s >= 0.0 && s < 1000.0)) {  // negative, huge or NaN: no valid second
    st.second = 0xFFFF;
    st.milliseconds = 0;
    microseconds = 0;
    return;
  }
  int second = static_cast<int>(s);
  double f = s - second;
  long ms = std::lround(f * 1000.0);
  long us = std::lround(f * 1000000.0);
  bool carry = false;
  if (us > 999999 || (us == 0 && ms >= 1000)) {
    ms = 0;
    us = 0;
    carry = true;
  }
  if (ms > 999) ms = 999;  // 0.9999994 s: 999 ms, 999999 us
  if (carry) {
    ++second;
    if (second >= 60) {
      second -= 60;
      if (++st.minute >= 60) {
        st.minute = static_cast<uint16_t>(st.minute - 60);
        st.hour = static_cast<uint16_t>((st.hour + 1) % 24);
      }
    }
  }
  st.second = static_cast<uint16_t>(second);
  st.milliseconds = static_cast<uint16_t>(ms);
  microseconds = static_cast<uint32_t>(us);
}

uint32_t ole_date::fraction_ns() const {
  if (microseconds != 0 || nanoseconds != 0) return microseconds * 1000u + nanoseconds;
  return st.milliseconds * 1000000u;
}

void ole_date::set_fraction_ns(uint32_t ns) {
  st.milliseconds = static_cast<uint16_t>(ns / 1000000);
  microseconds = ns / 1000;
  nanoseconds = static_cast<uint16_t>(ns % 1000);
}

void ole_date::add_minutes(int32_t minutes) {
  if (minutes == 0) return;
  const int64_t day = days_from_civil(st.year, st.month, st.day);
  const int64_t total = (day * 24 + st.hour) * 60 + st.minute + minutes;
  const int64_t days = total >= 0 ? total / 1440 : -((-total + 1439) / 1440);
  const int64_t in_day = total - days * 1440;
  int64_t y = 0;
  unsigned m = 0, d = 0;
  civil_from_days(days, y, m, d);
  st.year = static_cast<uint16_t>(y < 0 ? 0 : y);
  st.month = static_cast<uint16_t>(m);
  st.day = static_cast<uint16_t>(d);
  st.hour = static_cast<uint16_t>(in_day / 60);
  st.minute = static_cast<uint16_t>(in_day % 60);
}

void ole_date::refine_type() {
  if (st.day == 0 && st.month == 0 && st.year == 0) {
    kind = pure_time;
  } else if (st.hour == 0 && st.minute == 0 && st.second == 0 && st.milliseconds == 0 &&
             microseconds == 0 && nanoseconds == 0 && !has_zone && st.day != 0 && st.month != 0 &&
             st.year != 0) {
    kind = pure_date;
  }
}

void ole_date::append_to(std::string& out, int precision) const {
  append_form(*this, out, precision, true);
}

tk_string ole_date::to_string(int precision) const {
  tk_string s;
  append_form(*this, s, precision, true);
  return s;
}

tk_wstring ole_date::to_wstring(int precision) const {
  tk_string s;
  append_form(*this, s, precision, false);
  return tk_wstring(s.begin(), s.end());  // the text is ASCII
}
