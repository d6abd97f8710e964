#include <wygl/qmgl_mem.h>

#include <cstdint>

#include <wygl/qmgl_exc.h>

#include "os/kernel_object.h"
#include "os/last_error.h"
#include "os/mapping.h"
#include "qmgl/qmgl_action.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_mem";

[[noreturn]] void raise_last_error(int line) {
  exc_t::throw_last_w32_error(source_file, line);
  throw exc_should_not_execute_t(source_file, line, "exc_should_not_execute");
}

void* mapping_named(char const* name, unsigned int size, qmgl_action_indicator action) {
  if (!qmgl_action_creates(action)) {
    void* const mapping = wygl::os::open_mapping(name);
    if (mapping == nullptr) raise_last_error(__LINE__);
    return mapping;
  }
  wygl::os::creation const made = wygl::os::create_mapping(name, size);
  if (made.object == nullptr) raise_last_error(__LINE__);
  if (made.existed && !qmgl_action_accepts_existing(action)) {
    wygl::os::close_handle(made.object);
    throw exc_already_exists_t(source_file, __LINE__, "exc_already_exists");
  }
  return made.object;
}

}  // namespace

qmgl_mem::~qmgl_mem() = default;

qmgl_mem_shared::qmgl_mem_shared(qmgl_ntarray_of<char, 0> const& name, unsigned int size,
                                 qmgl_action_indicator action)
    : _mapping(mapping_named(name, size, action)) {
  _address = wygl::os::map_view(_mapping, size);
  if (_address == nullptr) {
    std::uint32_t const error = wygl::os::last_error();
    wygl::os::close_handle(_mapping);
    exc_t::throw_w32_error(source_file, __LINE__, error);
    throw exc_should_not_execute_t(source_file, __LINE__, "exc_should_not_execute");
  }
}

qmgl_mem_shared::~qmgl_mem_shared() {
  wygl::os::unmap_view(_address);
  wygl::os::close_handle(_mapping);
}
