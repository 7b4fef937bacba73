// Calendar value behind every VT_DATE: calendar fields, the fraction of a
// second down to nanoseconds, an optional time zone offset, and a kind (date
// and time, pure date, pure time) that decides how it prints.
#pragma once

#include <cstdint>
#include <string>

#include "TK/tk_utils.h"

// Calendar fields, as the platform's SYSTEMTIME has them.
struct tk_systemtime {
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class ole_date {
 public:
  enum kind_t : int32_t { invalid = 0, datetime = 1, pure_date = 2, pure_time = 3 };

  ole_date() = default;
  explicit ole_date(const tk_systemtime& st);  // kind datetime, then refine_type
  explicit ole_date(const tk_string& text);    // parses; may end as kind invalid

  bool import_from_string(const tk_string& text);
  bool is_valid() const;
  void process_milliseconds(const char* seconds_text);
  void refine_type();

  // Every caller passes precision 6.
  tk_string to_string(int precision = 6) const;
  tk_wstring to_wstring(int precision = 6) const;
  // Appends the narrow text form to out without allocating when out has room.
  void append_to(std::string& out, int precision = 6) const;

  // The fraction of a second in nanoseconds, from whichever of the fraction
  // fields carries it.
  uint32_t fraction_ns() const;
  // Sets milliseconds, microseconds and nanoseconds from one count of
  // nanoseconds (below one second).
  void set_fraction_ns(uint32_t ns);
  // Shifts the calendar fields by a number of minutes (a time zone offset),
  // carrying into hours, days, months and years.
  void add_minutes(int32_t minutes);

  int32_t kind = invalid;
  // Offset from UTC in minutes; printed only when has_zone is set (a
  // TIMESTAMP WITH TIME ZONE value), as " +hh:mm".
  int32_t time_zone = 0;
  uint8_t date_only = 1;  // a datetime at 00:00:00.000 prints as a date
  uint8_t has_zone = 0;
  // Fraction digits the column declares (TIMESTAMP(9): 9); 0 when unknown.
  // A value prints at least this many digits and never fewer than it holds.
  uint8_t fraction_digits = 0;
  uint16_t nanoseconds = 0;  // below the microseconds: 0 to 999
  uint32_t microseconds = 0;
  tk_systemtime st;
};

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d);
