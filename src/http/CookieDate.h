// The date of a cookie's Expires attribute, read the forgiving way servers
// need: the three HTTP date forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday,
// 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994") and the variants seen
// in the wild, by picking a time, a day, a month and a year out of the text
// in any order. Always UTC; two-digit years 70-99 are 19xx, 00-69 20xx.
#pragma once

#include <cstdint>
#include <string_view>

// Unix seconds of the date, or false when the text holds no valid date (a
// part missing or out of range, a day the month does not have, a year
// before 1601).
bool ParseCookieDate(std::string_view text, int64_t& unixSeconds);

// Unix seconds of a UTC calendar date and time (proleptic Gregorian).
int64_t UnixSecondsOf(int year, int month, int day, int hour, int minute, int second);
