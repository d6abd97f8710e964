// Looking at what a raising call threw, and at error texts, in tests.
//
//   raised const r = raise_of([] { exc_t::throw_w32_error("src/t", 7, 2); });
//   EXPECT_EQ(r.type, typeid(exc_unmapped_t));
//   EXPECT_EQ(r.code, 2u);
//
// Anything thrown that is not an exc_t passes through to the test framework.

#ifndef WYGL_TESTS_SUPPORT_RAISED_H
#define WYGL_TESTS_SUPPORT_RAISED_H

#include <cstdint>
#include <string>
#include <typeindex>
#include <typeinfo>

#include <wygl/qmgl_exc.h>

struct raised {
  bool thrown = false;
  std::type_index type = typeid(void);  // the dynamic type of what was thrown
  std::uint32_t code = 0;
  char const* file = nullptr;
  int line = 0;
  std::string message;
};

template <class Call>
raised raise_of(Call&& call) {
  raised r;
  try {
    call();
  } catch (exc_t const& e) {
    r.thrown = true;
    r.type = typeid(e);
    r.code = static_cast<std::uint32_t>(e.code);
    r.file = e.file;
    r.line = e.line;
    r.message = e.message;
  }
  return r;
}

// An error text of ASCII characters as a narrow string; any other unit becomes '?', so that
// comparing it with a narrow text fails visibly.
inline std::string narrow_ascii(std::basic_string<unsigned short> const& units) {
  std::string text;
  for (unsigned short u : units)
    text += u < 0x80 ? static_cast<char>(u) : '?';
  return text;
}

// The system's text for an error code, as error_string gives it, narrowed as above.
inline std::string system_text(std::uint32_t code) {
  return narrow_ascii(error_string(code));
}

#endif  // WYGL_TESTS_SUPPORT_RAISED_H
