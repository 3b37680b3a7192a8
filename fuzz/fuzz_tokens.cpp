// The tokenizers against the white-space rules applied one byte at a time: split_white_space,
// split_fields (with a token limit from the first byte) and for_each_white_space_token must give
// the tokens that white_space_length alone defines, on any valid UTF-8 text.
#include <string>
#include <string_view>
#include <vector>

#include "core/tokens.hpp"
#include "core/utf8.hpp"
#include "fuzz_common.hpp"

namespace {

using morvex::fuzz::die;

std::vector<std::string_view> reference(std::string_view text, bool comma_separates) {
  std::vector<std::string_view> tokens;
  const char* const end = text.data() + text.size();
  const char* token = nullptr;
  for (const char* p = text.data(); p < end;) {
    const std::size_t n = comma_separates && *p == ',' ? 1 : morvex::white_space_length(p, end);
    if (n == 0 && token == nullptr) token = p;
    if (n != 0 && token != nullptr) {
      tokens.emplace_back(token, static_cast<std::size_t>(p - token));
      token = nullptr;
    }
    p += n == 0 ? 1 : n;
  }
  if (token != nullptr) tokens.emplace_back(token, static_cast<std::size_t>(end - token));
  return tokens;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t limit = data[0] % 8;
  // An exact-size copy, so that AddressSanitizer sees any read past the text.
  const std::vector<char> bytes(data + 1, data + size);
  const std::string_view text(bytes.data(), bytes.size());
  if (!morvex::is_valid_utf8(text)) return 0;

  const auto white_space = reference(text, false);
  std::vector<std::string_view> tokens;
  morvex::split_white_space(text, tokens);
  if (tokens != white_space) die("split_white_space differs");
  morvex::split_fields(text, tokens, limit);
  auto fields = reference(text, true);
  fields.resize(std::min(fields.size(), limit));
  if (tokens != fields) die("split_fields with a limit differs");

  std::vector<std::string_view> batch;
  std::size_t count = 0;
  morvex::for_each_white_space_token(text, batch, [&](std::string_view token) {
    if (count >= white_space.size() || token.data() != white_space[count].data() ||
        token.size() != white_space[count].size()) {
      die("for_each_white_space_token differs");
    }
    ++count;
  });
  if (count != white_space.size()) die("for_each_white_space_token stops early");
  return 0;
}
