#include <wygl/qmgl_file.h>

#include <cstdint>

#include <wygl/qmgl_exc.h>

#include "os/error_codes.h"
#include "os/file.h"
#include "os/last_error.h"
#include "wytr/wytr_scope.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_file";

using wytr::depth;
using wytr::operation_scope;

[[noreturn]] void raise_invalid_parameter(int line) {
  throw exc_invalid_parameter_t(source_file, line, "exc_invalid_parameter");
}

void write_construction_text(qmgl_file const* file, char const* format, auto... args) {
  if (wytr_enabled(wytr::level::lifetime))
    wytr::write_text(wytr::kind_word(wytr::kind::constructed), wytr::tp::file_lifetime, file,
                     format, args...);
}

bool is_action(int action) {
  return action >= qmgl_file::create_new && action <= qmgl_file::create_or_truncate;
}

bool is_denied(int denied) {
  return denied == qmgl_file::deny_none || denied == qmgl_file::deny_write ||
         denied == qmgl_file::deny_read_write;
}

bool is_access(int access) {
  return access >= qmgl_file::access_read && access <= qmgl_file::access_read_write;
}

wygl::os::file_creation creation_of(qmgl_file::action_indicator action) {
  using wygl::os::file_creation;
  switch (action) {
    case qmgl_file::create_new:
      return file_creation::create_new;
    case qmgl_file::open_existing:
      return file_creation::open_existing;
    case qmgl_file::open_or_create:
      return file_creation::open_always;
    case qmgl_file::truncate_existing:
      return file_creation::truncate_existing;
    case qmgl_file::create_or_truncate:
      break;
  }
  return file_creation::create_always;
}

std::uint32_t access_bits(qmgl_file::access_requested_indicator access) {
  std::uint32_t bits = 0;
  if (access & qmgl_file::access_read) bits |= wygl::os::file_read_access;
  if (access & qmgl_file::access_write) bits |= wygl::os::file_write_access;
  return bits;
}

// What others may do is the complement of what they are denied.
std::uint32_t share_bits(qmgl_file::access_denied_indicator denied) {
  switch (denied) {
    case qmgl_file::deny_none:
      return wygl::os::file_share_read | wygl::os::file_share_write;
    case qmgl_file::deny_write:
      return wygl::os::file_share_read;
    case qmgl_file::deny_read_write:
      break;
  }
  return 0;
}

}  // namespace

qmgl_file::qmgl_file(char const* name, action_indicator action, access_requested_indicator access,
                     access_denied_indicator denied)
    : wytr_class(0), _handle(nullptr) {
  write_construction_text(this, "%s, %d, %d, %d", name != nullptr ? name : "(null)",
                          static_cast<int>(action), static_cast<int>(access),
                          static_cast<int>(denied));
  if (!is_action(action)) raise_invalid_parameter(__LINE__);
  wygl::os::everyone_access everyone;
  if (!everyone.prepare()) exc_t::throw_last_w32_error(source_file, __LINE__);
  if (!is_denied(denied)) raise_invalid_parameter(__LINE__);
  if (!is_access(access)) raise_invalid_parameter(__LINE__);
  if (!wygl::os::open_file(name, access_bits(access), share_bits(denied), creation_of(action),
                           &everyone, _handle))
    exc_t::throw_last_w32_error(source_file, __LINE__);
}

qmgl_file::qmgl_file(void* handle) : wytr_class(0), _handle(nullptr) {
  write_construction_text(this, "handle %p", handle);
  _handle = duplicate_handle(handle);
}

qmgl_file::qmgl_file(qmgl_file const& other) : wytr_class(0), _handle(nullptr) {
  write_construction_text(this, "file %p", static_cast<void const*>(&other));
  _handle = duplicate_handle(other._handle);
}

qmgl_file::~qmgl_file() {
  wygl::os::close_file(_handle);
}

void* qmgl_file::duplicate_handle(void* handle) {
  operation_scope scope(wytr::tp::file_duplicate_handle, depth::inner_operation, nullptr, "%p",
                        handle);
  void* copy = nullptr;
  if (!wygl::os::duplicate_file(handle, copy)) exc_t::throw_last_w32_error(source_file, __LINE__);
  scope.note(wytr::level::state_note, wytr::kind::state_note, "new_handle %p", copy);
  return copy;
}

unsigned int qmgl_file::read(void* buffer, unsigned int count) {
  operation_scope scope(wytr::tp::file_read, depth::public_operation, this, "%ld",
                        static_cast<long>(count));
  std::uint32_t done = 0;
  if (!wygl::os::read_file(_handle, buffer, count, done))
    exc_t::throw_last_w32_error(source_file, __LINE__);
  return done;
}

unsigned int qmgl_file::write(void const* buffer, unsigned int count) {
  operation_scope scope(wytr::tp::file_write, depth::public_operation, this, "%ld",
                        static_cast<long>(count));
  std::uint32_t done = 0;
  if (!wygl::os::write_file(_handle, buffer, count, done))
    exc_t::throw_last_w32_error(source_file, __LINE__);
  return done;
}

unsigned long qmgl_file::seek(long offset, seek_indicator origin) {
  operation_scope scope(wytr::tp::file_seek, depth::public_operation, this, "%ld, %d", offset,
                        static_cast<int>(origin));
  if (origin < seek_begin || origin > seek_end) raise_invalid_parameter(__LINE__);
  // The distance is a 32-bit number; where long is wider, a longer one has no meaning here.
  if (offset < INT32_MIN || offset > INT32_MAX) raise_invalid_parameter(__LINE__);
  std::uint32_t const position = wygl::os::set_file_pointer(
      _handle, static_cast<std::int32_t>(offset), static_cast<wygl::os::file_origin>(origin));
  // 0xFFFFFFFF is also a position: only the error value tells.
  if (position == 0xFFFFFFFFu)
    exc_t::throw_w32_error(source_file, __LINE__, wygl::os::last_error());
  return position;
}

void qmgl_file::truncate() {
  operation_scope scope(wytr::tp::file_truncate, depth::public_operation, this);
  seek(0, seek_begin);
  if (!wygl::os::set_end_of_file(_handle)) exc_t::throw_last_w32_error(source_file, __LINE__);
}

void qmgl_file::append() {
  operation_scope scope(wytr::tp::file_append, depth::public_operation, this);
  seek(0, seek_end);
}

void qmgl_file::flush() {
  operation_scope scope(wytr::tp::file_flush, depth::public_operation, this);
  if (wygl::os::flush_file(_handle)) return;
  std::uint32_t const error = wygl::os::last_error();
  if (error != wygl::os::err::invalid_handle) exc_t::throw_w32_error(source_file, __LINE__, error);
}

qmgl_file::timestamp qmgl_file::get_last_mod_time() {
  std::uint64_t written = 0;
  if (!wygl::os::last_write_time(_handle, written))
    exc_t::throw_last_w32_error(source_file, __LINE__);
  return {static_cast<unsigned int>(written & 0xFFFFFFFFu),
          static_cast<unsigned int>(written >> 32)};
}
