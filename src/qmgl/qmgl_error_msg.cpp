#include "qmgl/qmgl_error_msg.h"

#include <cstdint>
#include <new>
#include <string>

#include <wygl/qmgl_exc.h>

#include "os/error_text.h"
#include "os/last_error.h"

namespace {

constexpr char raiser_file[] = "src/qmgl/qmgl_error_msg";

// Codes are 32-bit numbers; where unsigned long is wider its high bits are not part of them.
std::uint32_t as_code(unsigned long error_code) {
  return static_cast<std::uint32_t>(error_code);
}

// Runs work, which builds texts, and reports a failed allocation in it the library's way.
template <class Work>
auto with_allocation_check(Work&& work) {
  try {
    return work();
  } catch (std::bad_alloc const&) {
    throw exc_not_enough_memory_t(raiser_file, __LINE__, "not enough memory");
  }
}

// The message of a system or socket error: the system's text as it gives it, line end
// included. When the system has no text for the code the message names the number instead,
// "system error <code in decimal>", so that the exception still says what failed. The form
// with a text appends " ( text ) " in either case; a null text leaves the brackets empty.
std::string system_error_message(std::uint32_t code, bool with_text, char const* text) {
  return with_allocation_check([&] {
    std::string message;
    if (!wygl::os::system_error_text(code, message))
      message.append("system error ").append(std::to_string(code));
    if (with_text) message.append(" ( ").append(text != nullptr ? text : "").append(" ) ");
    return message;
  });
}

void raise_system_error(char const* source_file, int source_line, std::uint32_t code,
                        bool with_text, char const* text) {
  if (code == 0) return;
  std::string const message = system_error_message(code, with_text, text);
  throw exc_unmapped_t(source_file, source_line, message.c_str(), code);
}

void raise_unmapped(char const* source_file, int source_line, unsigned long error_code,
                    char const* msg) {
  std::uint32_t const code = as_code(error_code);
  if (code != 0) throw exc_unmapped_t(source_file, source_line, msg, code);
}

}  // namespace

namespace wygl::error_msg {

std::basic_string<unsigned short> text_units(char const* text) {
  unsigned short units[max_text_units + 1] = {};
  std::size_t const n = wygl::os::system_text_to_units(text, units, max_text_units);
  return std::basic_string<unsigned short>(units, n);
}

}  // namespace wygl::error_msg

void exc_t::throw_w32_error(char const* source_file, int source_line, unsigned long error_code) {
  raise_system_error(source_file, source_line, as_code(error_code), false, nullptr);
}

void exc_t::throw_w32_error(char const* source_file, int source_line, unsigned long error_code,
                            char const* text) {
  raise_system_error(source_file, source_line, as_code(error_code), true, text);
}

void exc_t::throw_last_w32_error(char const* source_file, int source_line) {
  raise_system_error(source_file, source_line, wygl::os::last_error(), false, nullptr);
}

void exc_t::throw_last_w32_error(char const* source_file, int source_line, char const* text) {
  raise_system_error(source_file, source_line, wygl::os::last_error(), true, text);
}

void exc_t::throw_tcpip_error(char const* source_file, int source_line, unsigned long error_code) {
  raise_system_error(source_file, source_line, as_code(error_code), false, nullptr);
}

void exc_t::throw_last_tcpip_error(char const* source_file, int source_line) {
  raise_system_error(source_file, source_line, wygl::os::last_socket_error(), false, nullptr);
}

void exc_t::throw_qmgl_error(char const* source_file, int source_line, unsigned long error_code,
                             char const* msg) {
  // One case per class of the tree that has a fixed code, made with its three-argument
  // constructor; the compiler rejects two classes with the same code.
  switch (as_code(error_code)) {
#define WYGL_EXC_CALLER(name, base)
#define WYGL_EXC_FIXED(name, base, fixed_code) \
  case fixed_code:                             \
    throw name(source_file, source_line, msg);
#define WYGL_EXC_BOTH(name, base, fixed_code) WYGL_EXC_FIXED(name, base, fixed_code)
#include <wygl/qmgl_exc_tree.def>
    default:
      raise_unmapped(source_file, source_line, error_code, msg);
  }
}

void exc_t::throw_qmpl_error(char const* source_file, int source_line, unsigned long error_code) {
  raise_unmapped(source_file, source_line, error_code, "unmapped QMPL error");
}

void exc_t::throw_qmgs_error(char const* source_file, int source_line, unsigned long error_code) {
  raise_unmapped(source_file, source_line, error_code, "unmapped ZR_GS error");
}

std::basic_string<unsigned short> error_string(unsigned long error_code) {
  return with_allocation_check([&] {
    std::string text;
    if (!wygl::os::system_error_text(as_code(error_code), text))
      return std::basic_string<unsigned short>();
    return wygl::error_msg::text_units(text.c_str());
  });
}
