// mask_parse.h - the text form of the trace mask, as QMTRC_MASK and qmtrc_dump --level take it.
//
// A mask is written as items joined by commas; each item is a number, decimal (2048) or
// hexadecimal after 0x or 0X (0x800), or the name of a level bit (wytr::level_names, in any
// case), or "all" for every bit. Blanks around an item are ignored. The items' bits add up:
// "exception,operation" is 0x1040, "lifetime, 0x40" is 0x840. An empty text is 0.

#ifndef QMTRC_MASK_PARSE_H
#define QMTRC_MASK_PARSE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "wygl/wytr_ids.h"

namespace qmtrc {

namespace mask_text {

constexpr bool is_blank(char c) noexcept {
  return c == ' ' || c == '\t';
}

constexpr std::string_view trimmed(std::string_view text) noexcept {
  while (!text.empty() && is_blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back()))
    text.remove_suffix(1);
  return text;
}

constexpr char lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool same_name(std::string_view text, std::string_view name) noexcept {
  if (text.size() != name.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (lower(text[i]) != name[i]) return false;
  return true;
}

// A number with nothing around it, within 32 bits.
constexpr std::optional<std::uint32_t> number(std::string_view text) noexcept {
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
    } else if (base == 16 && lower(c) >= 'a' && lower(c) <= 'f') {
      digit = static_cast<std::uint64_t>(lower(c) - 'a' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

constexpr std::optional<std::uint32_t> item(std::string_view text) noexcept {
  if (same_name(text, "all")) return UINT32_MAX;
  for (const wytr::level_name& level : wytr::level_names)
    if (same_name(text, level.name)) return level.bit;
  return number(text);
}

}  // namespace mask_text

// The mask the text gives, or nothing when any item is neither a number nor a level name, so
// that a mistyped value is reported rather than read as some other mask.
constexpr std::optional<std::uint32_t> parse_mask(std::string_view text) noexcept {
  if (mask_text::trimmed(text).empty()) return 0u;
  std::uint32_t mask = 0;
  for (;;) {
    std::size_t comma = text.find(',');
    std::optional<std::uint32_t> bits = mask_text::item(mask_text::trimmed(text.substr(0, comma)));
    if (!bits) return std::nullopt;
    mask |= *bits;
    if (comma == std::string_view::npos) return mask;
    text.remove_prefix(comma + 1);
  }
}

// Writes the accepted forms, for a message about a text that parse_mask refused and for help
// texts: "a number ... or level names ...: error, exception, ...".
inline void write_mask_forms(std::FILE* out) noexcept {
  std::fputs(
      "a number, decimal (2048) or hexadecimal (0x800), or level names joined by commas"
      " (exception,operation):",
      out);
  for (const wytr::level_name& level : wytr::level_names)
    std::fprintf(out, " %s,", level.name);
  std::fputs(" all", out);
}

}  // namespace qmtrc

#endif  // QMTRC_MASK_PARSE_H
