#include <new>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>

#include "wytr/wytr_record.h"

namespace {

// The file streams report under the names of the stream families they belong to.
constexpr char source_file[] = "src/qmgl/qmgl_output";

[[noreturn]] void raise_invalid_mode(int line) {
  throw exc_invalid_parameter_t(source_file, line, "exc_invalid_parameter");
}

// A named file is opened fresh or at its end; keeping a position means nothing for it.
qmgl_file::action_indicator action_for(qmgl_output_file::mode_indicator mode) {
  if (mode == qmgl_output_file::truncate) return qmgl_file::create_or_truncate;
  if (mode != qmgl_output_file::append) raise_invalid_mode(__LINE__);
  return qmgl_file::open_or_create;
}

void write_error_text(std::uint32_t tracepoint, void const* object, char const* format,
                      auto... args) {
  if (wytr_enabled(wytr::level::error_text))
    wytr::write_text(wytr::kind_word(wytr::kind::error_text), tracepoint, object, format, args...);
}

qmgl_output_file* make_std_error() {
  try {
    return new qmgl_output_file(qmgl_file::std_error(), qmgl_output_file::keep_position);
  } catch (...) {
    if (wytr_enabled(wytr::level::exception_created))
      wytr_write_plain(wytr::kind_word(wytr::kind::exception_created),
                       wytr::tp::output_file_std_error, nullptr);
    return nullptr;
  }
}

}  // namespace

qmgl_output_file::qmgl_output_file(qmgl_file& file, mode_indicator mode) : _file(file) {
  switch (mode) {
    case truncate:
      _file.truncate();
      return;
    case append:
      _file.append();
      return;
    case keep_position:
      return;
  }
  raise_invalid_mode(__LINE__);
}

qmgl_output_file::qmgl_output_file(char const* name, mode_indicator mode)
    : _file(name, action_for(mode), qmgl_file::access_write, qmgl_file::deny_write) {
  if (mode == append) _file.append();
}

qmgl_output_file::qmgl_output_file(qmgl_ntarray_of<char, 0> const& name, mode_indicator mode)
    : qmgl_output_file(static_cast<char const*>(name), mode) {}

qmgl_output_file::~qmgl_output_file() {
  // An exception must not leave a destructor, least of all while another one unwinds the
  // stack; the lost output is reported where the caller's diagnostics go.
  int const pending = get_output_buffer_length();
  try {
    flush_buffer();
  } catch (exc_t const& e) {
    write_error_text(wytr::tp::output_file_lifetime, this,
                     "flush at destruction failed, %d characters lost: %lu %s", pending, e.code,
                     e.message);
  } catch (...) {
    write_error_text(wytr::tp::output_file_lifetime, this,
                     "flush at destruction failed, %d characters lost: %lu %s", pending, 0UL, "");
  }
}

void qmgl_output_file::flush() {
  flush_buffer();
}

void qmgl_output_file::flush_to_disk() {
  flush_buffer();
  _file.flush();
}

void qmgl_output_file::really_put_char(char c) {
  put_buffered_char(c);
}

void qmgl_output_file::really_flush_buffer(char const* data, int length) {
  auto const requested = static_cast<unsigned int>(length);
  unsigned int const written = _file.write(data, requested);
  if (written == requested) return;
  write_error_text(wytr::tp::output_file_really_flush_buffer, nullptr,
                   "write failed for Size:%d BytesWritten:%d", length, static_cast<int>(written));
  throw exc_not_enough_disk_t(source_file, __LINE__, "exc_not_enough_disk");
}

qmgl_output_file& qmgl_output_file::std_output() {
  static qmgl_output_file stream(qmgl_file::std_output(), keep_position);
  return stream;
}

qmgl_output_file& qmgl_output_file::std_error() {
  // Made once; kept for the life of the process, as late writers may still need it.
  static qmgl_output_file* const on_handle = make_std_error();
  if (on_handle != nullptr) return *on_handle;
  static qmgl_output_file discarding("nul:", append);
  return discarding;
}
