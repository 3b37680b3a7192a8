#include "dispatch/detect.hpp"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/head.hpp"

namespace morvex {
namespace {

bool goes_by(const FormatRow& format, std::string_view extension) {
  return !extension.empty() &&
         std::ranges::find(format.extensions, extension) != format.extensions.end();
}

std::vector<const FormatRow*> named_formats(std::string_view extension) {
  std::vector<const FormatRow*> named;
  for (const FormatRow& format : format_table()) {
    if (goes_by(format, extension)) named.push_back(&format);
  }
  return named;
}

bool is_columns(const FormatRow* format) {
  return format && (format->name == "xy" || format->name == "csv");
}

// "a .raw name expects a STOE RAW file, a Bruker RAW file or a GSAS powder data file".
std::string expected(std::string_view extension, const std::vector<const FormatRow*>& named) {
  std::string text = "a .";
  text.append(extension).append(" name expects ");
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (i > 0) text.append(i + 1 == named.size() ? " or " : ", ");
    text.append(named[i]->title);
  }
  return text;
}

std::string refusal(std::string_view head, std::string_view extension,
                    const std::vector<const FormatRow*>& named) {
  if (head.empty()) return "the file is empty";
  std::string text = "the content is none of the formats morvexio reads";
  if (!named.empty()) text.append(" (").append(expected(extension, named)).append(")");
  const ColumnContent columns = column_content(head);
  if (!columns.refusal.empty()) text.append(": it holds ").append(columns.refusal);
  return text;
}

}  // namespace

const FormatRow* format_by_content(std::string_view head) {
  std::optional<ColumnContent> columns;  // one look at the rows decides both column formats
  for (const FormatRow& format : format_table()) {
    if (format.content) {
      if (format.content(head)) return &format;
      continue;
    }
    if (!columns) columns = column_content(head);
    if (columns->format == format.name) return &format;
  }
  return nullptr;
}

Decision decide_format(std::string_view head, std::string_view extension) {
  const FormatRow* format = format_by_content(head);
  const std::vector<const FormatRow*> named = named_formats(extension);
  if (format && format->name == "chi") {
    // A Fit2D chi header is also what a column file's title lines may be: a file named as
    // columns (a .dat name among others) stays one, so that both modules read it alike.
    const auto columns = std::ranges::find_if(named, is_columns);
    if (columns != named.end()) format = *columns;
  }
  // A BRML archive whose first entries lie outside its experiment folder looks like any ZIP.
  if (format && format->name == "rasx" && named.size() == 1 && named.front()->name == "brml") {
    format = named.front();
  }
  if (format) return {format, {}};
  return {nullptr, refusal(head, extension, named)};
}

}  // namespace morvex
