// The static operations of qmgl_file: names and the standard handles.

#include <cctype>
#include <cstdint>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>
#include <wygl/qmgl_local.h>

#include "os/error_codes.h"
#include "os/file.h"
#include "os/file_names.h"
#include "os/last_error.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_file";

void copy_named(char const* from, char const* to, bool fail_if_exists, int line) {
  if (!wygl::os::copy_file(from, to, fail_if_exists))
    exc_t::throw_last_w32_error(source_file, line, from);
}

void move_named(char const* from, char const* to, std::uint32_t flags, int line) {
  if (!wygl::os::move_file(from, to, flags)) exc_t::throw_last_w32_error(source_file, line, from);
}

// The standard handles are made through the handle constructor, so that each object holds a
// duplicate of its own.
qmgl_file make_std_file(wygl::os::std_stream which) {
  return qmgl_file(wygl::os::std_handle(which));
}

}  // namespace

void qmgl_file::copy(char const* from, char const* to) {
  copy_named(from, to, true, __LINE__);
}

void qmgl_file::copy(char const* from, char const* to, force_indicator) {
  copy_named(from, to, false, __LINE__);
}

void qmgl_file::rename(char const* from, char const* to) {
  move_named(from, to, wygl::os::move_copy_allowed, __LINE__);
}

// The move itself replaces to, in one step: removing to first would lose it whenever the move
// then fails (from missing, or from and to one file under two spellings).
void qmgl_file::rename(char const* from, char const* to, force_indicator) {
  move_named(from, to, wygl::os::move_replace_existing | wygl::os::move_copy_allowed, __LINE__);
}

void qmgl_file::remove(char const* name) {
  if (!wygl::os::delete_file(name)) exc_t::throw_last_w32_error(source_file, __LINE__, name);
}

bool qmgl_file::exists(char const* name) {
  if (wygl::os::file_attributes_exist(name)) return true;
  std::uint32_t const error = wygl::os::last_error();
  if (error == wygl::os::err::file_not_found || error == wygl::os::err::path_not_found)
    return false;
  exc_t::throw_w32_error(source_file, __LINE__, error);
  return false;
}

qmgl_ntarray_of<char, 0> qmgl_file::canonize(char const* name) {
  char probe[1];
  std::uint32_t const length = wygl::os::full_path_name(name, sizeof probe, probe);
  qmgl_local_array_of<char> path(length);
  // The system may give no path without an error of its own (for an empty name): then the
  // check below reports it, not an error left over from an earlier call.
  wygl::os::set_last_error(wygl::os::err::success);
  std::uint32_t const length2 = wygl::os::full_path_name(name, length, path);
  if (length2 == 0) exc_t::throw_last_w32_error(source_file, __LINE__, name);
  if (length2 != length - 1)
    throw exc_assertion_failed_t(source_file, __LINE__, "assertion failed: length2 == length - 1");
  for (std::uint32_t i = 0; i < length2; ++i)
    path[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
  return qmgl_ntarray_of<char, 0>(path);
}

qmgl_file& qmgl_file::std_input() {
  static qmgl_file file = make_std_file(wygl::os::std_stream::input);
  return file;
}

qmgl_file& qmgl_file::std_output() {
  static qmgl_file file = make_std_file(wygl::os::std_stream::output);
  return file;
}

qmgl_file& qmgl_file::std_error() {
  static qmgl_file file = make_std_file(wygl::os::std_stream::error);
  return file;
}
