// Dates and times as ISO 8601 text, made from the fields a header states.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvex {

struct DateTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "YYYY-MM-DDTHH:MM:SS"; nullopt where a field is out of range, a day past its month's end
// included, so that a misread field never passes for a date.
std::optional<std::string> iso_8601(const DateTime& time);

// A run of one to four ASCII digits as a number; nullopt for anything else.
std::optional<int> parse_small_number(std::string_view digits);

// "HH:MM:SS" into `time`; false for anything else.
bool parse_clock(std::string_view text, DateTime& time);

}  // namespace morvex
