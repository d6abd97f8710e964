#include <wygl/qmgl_exc.h>

#include <cstdint>
#include <cstring>

#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_output.h>

#include "wytr/wytr_record.h"

namespace {

// The text of both construction records: the whole message (the stored copy may be cut),
// then where it was raised and the code, once in hexadecimal and once as a signed 32-bit
// decimal, so that the text reads the same where long is 64 bits.
constexpr char construction_format[] = "%s\nfile: %s; line: %d; error: %#lx = %ld";

void write_construction_records(exc_t const* e, char const* msg, char const* file, int line,
                                std::uint32_t code) noexcept {
  auto const hex = static_cast<unsigned long>(code);
  auto const decimal = static_cast<long>(static_cast<std::int32_t>(code));
  if (wytr_enabled(wytr::level::lifetime))
    wytr::write_text(wytr::kind_word(wytr::kind::constructed), wytr::tp::exc_lifetime, e,
                     construction_format, msg, file, line, hex, decimal);
  if (wytr_enabled(wytr::level::exception_created))
    wytr::write_text(wytr::kind_word(wytr::kind::exception_created), wytr::tp::exc_created, nullptr,
                     construction_format, msg, file, line, hex, decimal);
}

// Set while this thread prints an exception, so that an exception raised by the standard
// error stream itself is not printed in turn, which would fail again, and again.
thread_local bool printing = false;

void print_on_standard_error(char const* msg) {
  if (printing) return;
  printing = true;
  struct end_of_print {
    ~end_of_print() { printing = false; }
  } const reset;
  qmgl_output& out = qmgl_output_file::std_error();
  out << msg << "\r\n"
      << "\r\n";
  out.flush();
}

}  // namespace

bool exc_t::_quiet = true;

exc_t::exc_t(char const* file_name, int source_line, char const* msg, unsigned long error_code)
    : wytr_class(0),
      code(static_cast<std::uint32_t>(error_code)),
      file(file_name),
      line(source_line) {
  if (msg == nullptr) msg = "";
  write_construction_records(this, msg, file_name != nullptr ? file_name : "", source_line,
                             static_cast<std::uint32_t>(error_code));
  auto const* end = static_cast<char const*>(std::memchr(msg, '\0', sizeof message - 1));
  std::size_t const n = end != nullptr ? static_cast<std::size_t>(end - msg) : sizeof message - 1;
  std::memcpy(message, msg, n);
  message[n] = '\0';
  if (!_quiet) print_on_standard_error(msg);
}

exc_t::exc_t(exc_t const& other) noexcept
    : wytr_class(0), code(other.code), file(other.file), line(other.line) {
  std::memcpy(message, other.message, sizeof message);
}

exc_t& exc_t::operator=(exc_t const& other) noexcept {
  code = other.code;
  file = other.file;
  line = other.line;
  std::memmove(message, other.message, sizeof message);
  return *this;
}

exc_t::~exc_t() = default;

exc_t* exc_t::get_current() noexcept {
  return nullptr;
}

bool exc_t::be_quiet(bool quiet) noexcept {
  bool const before = _quiet;
  _quiet = quiet;
  return before;
}

qmgl_output& operator<<(qmgl_output& out, exc_t const& e) {
  qmgl_ntarray_of<char, 0> const message(e.message);
  qmgl_ntarray_of<char, 0> const file(e.file);
  out << "exc " << qmgl_str_quoted(file, '\'') << " " << e.line << " " << e.code << " "
      << qmgl_str_quoted(message, '\'');
  return out;
}

// The derived classes' destructors live here, so that each class's type information and
// virtual table are defined once, inside the library.
#define WYGL_EXC_CALLER(name, base) name::~name() = default;
#define WYGL_EXC_FIXED(name, base, fixed_code) name::~name() = default;
#define WYGL_EXC_BOTH(name, base, fixed_code) name::~name() = default;
#include <wygl/qmgl_exc_tree.def>
