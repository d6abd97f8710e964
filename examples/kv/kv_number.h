// Whole numbers on command lines, taken strictly: "5x", " 5", "+5", "" and numbers out of
// range are refused, never read as something else.

#ifndef WYGL_KV_NUMBER_H
#define WYGL_KV_NUMBER_H

#include <optional>

// The number that text writes in decimal digits alone, if it lies from min to max.
std::optional<long long> kv_parse_number(char const* text, long long min, long long max);

#endif  // WYGL_KV_NUMBER_H
