#include "kv_number.h"

std::optional<long long> kv_parse_number(char const* text, long long min, long long max) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  long long number = 0;
  for (char const* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    int const digit = *p - '0';
    if (number > max / 10 || number * 10 > max - digit) return std::nullopt;  // never wraps
    number = number * 10 + digit;
  }
  if (number < min) return std::nullopt;
  return number;
}
