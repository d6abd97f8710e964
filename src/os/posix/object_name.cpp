#include "os/posix/object_name.h"

#include <cstring>
#include <string_view>

#include "os/error_codes.h"

namespace wygl::os {
namespace {

bool kept_as_is(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

std::string_view without_name_space(std::string_view name) noexcept {
  for (std::string_view prefix : {std::string_view("Global\\"), std::string_view("Local\\")}) {
    if (name.substr(0, prefix.size()) == prefix) return name.substr(prefix.size());
  }
  return name;
}

}  // namespace

std::uint32_t shared_memory_name(char const* name, std::string& path) {
  std::string_view const own = without_name_space(name);
  if (own.find('\\') != std::string_view::npos) return err::path_not_found;
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  path = "/wygl.";
  for (char c : own) {
    auto const byte = static_cast<unsigned char>(c);
    if (kept_as_is(byte)) {
      path += c;
    } else {
      path += '%';
      path += hex_digits[byte >> 4];
      path += hex_digits[byte & 0xF];
    }
  }
  return err::success;
}

}  // namespace wygl::os
