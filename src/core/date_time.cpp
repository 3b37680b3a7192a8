#include "core/date_time.hpp"

#include <cstdio>

namespace morvex {
namespace {

bool is_leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

}  // namespace

std::optional<std::string> iso_8601(const DateTime& t) {
  if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12) return std::nullopt;
  if (t.day < 1 || t.day > days_in_month(t.year, t.month)) return std::nullopt;
  if (t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59) {
    return std::nullopt;
  }
  char text[32];  // room for what the compiler cannot rule out
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return std::string(text);
}

std::optional<int> parse_small_number(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool parse_clock(std::string_view text, DateTime& time) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  const auto hour = parse_small_number(text.substr(0, 2));
  const auto minute = parse_small_number(text.substr(3, 2));
  const auto second = parse_small_number(text.substr(6, 2));
  if (!hour || !minute || !second) return false;
  time.hour = *hour;
  time.minute = *minute;
  time.second = *second;
  return true;
}

}  // namespace morvex
