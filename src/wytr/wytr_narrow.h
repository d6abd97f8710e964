// 16-bit texts in the text records.
//
// A record's text is formatted with the C library's vsnprintf, whose "%S" takes wchar_t, which
// is 16 bits wide on Windows and 32 bits elsewhere. So a 16-bit text (a system error text from
// error_string, say) is turned into its narrow form first and given to "%s":
//
//   scope.note(wytr::level::error_text, wytr::kind::error_text, "rc=%d\n%s", rc,
//              wytr::narrow_text(error_string(rc)).c_str());
//
// The narrow form is UTF-8, as the library's narrow conversion makes it, so the record holds
// the same bytes on every platform.

#ifndef WYGL_SRC_WYTR_WYTR_NARROW_H
#define WYGL_SRC_WYTR_WYTR_NARROW_H

#include <string>

namespace wytr {

class narrow_text {
 public:
  // The UTF-8 form of text up to its first 0 unit, without heap memory: a text whose form
  // needs more than capacity bytes is cut after the last whole code point that fits.
  explicit narrow_text(std::basic_string<unsigned short> const& text) noexcept;
  explicit narrow_text(unsigned short const* text) noexcept;

  narrow_text(narrow_text const&) = delete;
  narrow_text& operator=(narrow_text const&) = delete;

  char const* c_str() const noexcept { return _text; }

  // Every system error text fits: error_string gives at most 259 units.
  static constexpr unsigned capacity = 1023;

 private:
  char _text[capacity + 1];
};

}  // namespace wytr

#endif  // WYGL_SRC_WYTR_WYTR_NARROW_H
