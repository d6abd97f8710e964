#include <wygl/qmgl_thread.h>

#include <cstdint>

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

#include "os/kernel_object.h"
#include "os/last_error.h"
#include "os/thread.h"
#include "qmgl/qmgl_thread_object.h"
#include "wytr/wytr_record.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_thread";

[[noreturn]] void raise_should_not_execute(int line) {
  throw exc_should_not_execute_t(source_file, line, "exc_should_not_execute");
}

}  // namespace

std::uint64_t qmgl_pl_thread_stack_size(unsigned int stack_size) noexcept {
  constexpr std::uint64_t unit = 4096;
  if (stack_size < 8192) return 8192;
  return (stack_size / unit + 1) * unit;
}

qmgl_pl_thread::qmgl_pl_thread(void (*routine)(void*), void* argument, unsigned int stack_size) {
  if (!wygl::os::start_detached_thread(routine, argument, qmgl_pl_thread_stack_size(stack_size)))
    exc_t::throw_w32_error(source_file, __LINE__, wygl::os::last_error());
}

qmgl_pl_thread::~qmgl_pl_thread() = default;

qmgl_thread::qmgl_thread() noexcept : _thread_handle(nullptr), _exit_code(0), _thread_id(0) {}

qmgl_thread::qmgl_thread(routine_type routine, void* argument)
    : wytr_class(0), _thread_handle(nullptr), _exit_code(0), _thread_id(0) {
  if (wytr_enabled(wytr::level::lifetime))
    wytr::write_text(wytr::kind_word(wytr::kind::constructed), wytr::tp::thread_lifetime, this,
                     "%p, %p", reinterpret_cast<void*>(routine), argument);
  _thread_handle = wygl::os::create_thread(routine, argument, 0, _thread_id);
  if (_thread_handle == nullptr) exc_t::throw_last_w32_error(source_file, __LINE__);
}

qmgl_thread::~qmgl_thread() {
  if (_thread_handle != nullptr) wygl::os::close_handle(_thread_handle);
}

std::uint32_t qmgl_thread::get_exit_code() const {
  if (_thread_handle != nullptr) throw exc_object_busy_t(source_file, __LINE__, "exc_object_busy");
  return _exit_code;
}

void qmgl_thread::wait() {
  collect(wygl::os::wait_forever);
}

bool qmgl_thread::wait(long timeout) {
  return !collect(static_cast<std::uint32_t>(static_cast<unsigned long>(timeout)));
}

// True when the thread's end was seen and collected; false when it still runs at the limit.
bool qmgl_thread::collect(std::uint32_t timeout_ms) {
  switch (wygl::os::wait_for(_thread_handle, timeout_ms)) {
    case wygl::os::wait_obtained:
      break;
    case wygl::os::wait_timed_out:
      if (timeout_ms != wygl::os::wait_forever) return false;
      raise_should_not_execute(__LINE__);
    case wygl::os::wait_failed:
      exc_t::throw_last_w32_error(source_file, __LINE__);
      raise_should_not_execute(__LINE__);
    default:
      raise_should_not_execute(__LINE__);
  }
  if (!wygl::os::thread_exit_code(_thread_handle, _exit_code)) raise_should_not_execute(__LINE__);
  // Closing a handle that the wait has just accepted does not fail.
  wygl::os::close_handle(_thread_handle);
  _thread_handle = nullptr;
  return true;
}

qmgl_thread_sync::qmgl_thread_sync(routine_type routine, void* argument)
    : qmgl_thread(routine, argument) {
  wait();
}

qmgl_thread_async::qmgl_thread_async(routine_type routine, void* argument)
    : qmgl_thread(routine, argument) {}
