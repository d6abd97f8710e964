// mask_parse.h - reading the trace mask from its text form in QMTRC_MASK.

#ifndef QMTRC_MASK_PARSE_H
#define QMTRC_MASK_PARSE_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace qmtrc {

// Decimal, or hexadecimal after 0x or 0X; nothing else, not even spaces or a sign, so that a
// mistyped value leaves tracing off rather than switching on levels nobody asked for.
constexpr std::optional<std::uint32_t> parse_mask(std::string_view text) noexcept {
  std::uint64_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    std::uint64_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint64_t>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint64_t>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint64_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace qmtrc

#endif  // QMTRC_MASK_PARSE_H
