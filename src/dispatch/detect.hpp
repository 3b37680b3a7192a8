// Which format a file is: its content decides, the name's extension only where two formats
// look alike; content that matches no format's rule is refused with what was expected.
#pragma once

#include <string>
#include <string_view>

#include "dispatch/format_table.hpp"

namespace morvex {

struct Decision {
  const FormatRow* format = nullptr;  // none where the content is refused
  std::string refusal;                // why, naming what the extension expected
};

// `head`: the input's first bytes (at most head_size); `extension`: lower case, or "".
Decision decide_format(std::string_view head, std::string_view extension);

// The format the content rules alone pick, or none.
const FormatRow* format_by_content(std::string_view head);

}  // namespace morvex
