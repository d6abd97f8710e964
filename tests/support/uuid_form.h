// The text form of UUIDs, in tests.

#ifndef WYGL_TESTS_SUPPORT_UUID_FORM_H
#define WYGL_TESTS_SUPPORT_UUID_FORM_H

#include <string>

// 36 characters: lower-case hexadecimal digits in groups of 8, 4, 4, 4 and 12 joined by
// hyphens.
inline bool has_uuid_form(std::string const& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool const hyphen_place = i == 8 || i == 13 || i == 18 || i == 23;
    char const c = text[i];
    bool const digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (hyphen_place ? c != '-' : !digit) return false;
  }
  return true;
}

// The wide form of an ASCII text.
inline std::basic_string<unsigned short> wide_of(std::string const& text) {
  return std::basic_string<unsigned short>(text.begin(), text.end());
}

#endif  // WYGL_TESTS_SUPPORT_UUID_FORM_H
