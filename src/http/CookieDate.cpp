#include "http/CookieDate.h"

#include "codecs/TextHelpers.h"

#include <string_view>

namespace {

// The characters that separate the parts of a date; every other byte
// (digits, letters, ':', controls and bytes above 127) belongs to a part.
bool IsDateDelimiter(unsigned char c) {
  return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads minDigits to maxDigits digits at pos; what follows them must be the
// end of the part or a non-digit. Moves pos past the digits.
bool ReadNumber(std::string_view part, size_t& pos, int minDigits, int maxDigits, int& value) {
  value = 0;
  int count = 0;
  while (pos < part.size() && IsDigit(part[pos]) && count < maxDigits) {
    value = value * 10 + (part[pos] - '0');
    ++pos;
    ++count;
  }
  return count >= minDigits && (pos == part.size() || !IsDigit(part[pos]));
}

bool ReadTime(std::string_view part, int& hour, int& minute, int& second) {
  size_t pos = 0;
  if (!ReadNumber(part, pos, 1, 2, hour) || pos >= part.size() || part[pos++] != ':') return false;
  if (!ReadNumber(part, pos, 1, 2, minute) || pos >= part.size() || part[pos++] != ':') return false;
  return ReadNumber(part, pos, 1, 2, second);
}

bool ReadWhole(std::string_view part, int minDigits, int maxDigits, int& value) {
  size_t pos = 0;
  return ReadNumber(part, pos, minDigits, maxDigits, value);
}

// 1 to 12 for a part that starts with a month's three-letter name, any case.
int MonthOf(std::string_view part) {
  static const char names[] = "janfebmaraprmayjunjulaugsepoctnovdec";
  if (part.size() < 3) return 0;
  char lower[3];
  for (int i = 0; i < 3; ++i) {
    const char c = part[i];
    lower[i] = AsciiLowerChar(c);
  }
  for (int m = 0; m < 12; ++m) {
    if (std::string_view(names + 3 * m, 3) == std::string_view(lower, 3)) return m + 1;
  }
  return 0;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

}  // namespace

int64_t UnixSecondsOf(int year, int month, int day, int hour, int minute, int second) {
  // Days since 1970-01-01 by counting from March, so that the leap day ends a year.
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = era * 146097 + dayOfEra - 719468;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool ParseCookieDate(std::string_view text, int64_t& unixSeconds) {
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  size_t pos = 0;
  // Each pass takes one part (a run of non-delimiters); the first reading
  // that fits a part and is still missing claims it.
  while (pos < text.size()) {
    while (pos < text.size() && IsDateDelimiter(static_cast<unsigned char>(text[pos]))) ++pos;
    const size_t start = pos;
    while (pos < text.size() && !IsDateDelimiter(static_cast<unsigned char>(text[pos]))) ++pos;
    const std::string_view part = text.substr(start, pos - start);
    if (part.empty()) break;
    if (!haveTime && ReadTime(part, hour, minute, second)) {
      haveTime = true;
    } else if (!haveDay && ReadWhole(part, 1, 2, day)) {
      haveDay = true;
    } else if (!haveMonth && (month = MonthOf(part)) != 0) {
      haveMonth = true;
    } else if (!haveYear && ReadWhole(part, 2, 4, year)) {
      haveYear = true;
    }
  }
  if (!haveTime || !haveDay || !haveMonth || !haveYear) return false;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (year < 1601 || hour > 23 || minute > 59 || second > 59) return false;
  if (day < 1 || day > DaysInMonth(year, month)) return false;
  unixSeconds = UnixSecondsOf(year, month, day, hour, minute, second);
  return true;
}
