#include "os/thread.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>  // PTHREAD_STACK_MIN
#include <cstddef>
#include <new>

#include <pthread.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/event_state.h"
#include "os/posix/object_record.h"

namespace wygl::os {
namespace {

// What a held thread shares with its handle: each of the two lets go of it when done, and the
// last one frees it, so that a handle may be closed while the thread runs on.
struct thread_control {
  thread_routine routine;
  void* argument;
  event_state ended;
  std::atomic<std::uint32_t> exit_code{thread_still_active};
  std::atomic<int> holders{2};
};

void let_go(thread_control* control) noexcept {
  if (control->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  delete control;
}

class thread_object final : public object_record {
 public:
  explicit thread_object(thread_control* control) noexcept
      : object_record(object_kind::thread), _control(control) {}
  ~thread_object() override { let_go(_control); }

  std::uint32_t wait(std::uint32_t timeout_ms) noexcept override {
    return wait_event(_control->ended, futex_scope::process, timeout_ms);
  }

  std::uint32_t exit_code() const noexcept {
    return _control->exit_code.load(std::memory_order_acquire);
  }

 private:
  thread_control* _control;
};

void* run_held(void* p) {
  auto* control = static_cast<thread_control*>(p);
  control->exit_code.store(control->routine(control->argument), std::memory_order_release);
  set_event_state(control->ended, futex_scope::process);
  let_go(control);
  return nullptr;
}

struct detached_start {
  void (*routine)(void*);
  void* argument;
};

void* run_detached(void* p) {
  detached_start const start = *static_cast<detached_start*>(p);
  delete static_cast<detached_start*>(p);
  start.routine(start.argument);
  return nullptr;
}

std::uint64_t default_stack_size() noexcept {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (pthread_attr_init(&attributes) == 0) {
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
  }
  return size;
}

// A thread that could not be made for want of resources is reported as Windows reports it.
std::uint32_t creation_error(int error) noexcept {
  return error == EAGAIN ? err::not_enough_memory : windows_error_from_errno(error);
}

bool fail_with(std::uint32_t code) noexcept {
  set_last_error(code);
  return false;
}

handle no_thread(std::uint32_t code) noexcept {
  set_last_error(code);
  return nullptr;
}

// Starts entry(context) detached; false with the last error set when it cannot.
bool start_detached(void* (*entry)(void*), void* context, std::uint64_t stack_size) noexcept {
  std::uint64_t const size = thread_stack_size(stack_size);
  if (size != static_cast<std::size_t>(size)) return fail_with(err::not_enough_memory);
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error != 0) return fail_with(creation_error(error));
  error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (error == 0) error = pthread_attr_setstacksize(&attributes, static_cast<std::size_t>(size));
  pthread_t thread;
  if (error == 0) error = pthread_create(&thread, &attributes, entry, context);
  pthread_attr_destroy(&attributes);
  return error == 0 || fail_with(creation_error(error));
}

// Identifiers of this backend's own: pthread_t values are neither 32-bit nor small.
std::uint32_t next_thread_id() noexcept {
  static std::atomic<std::uint32_t> last{0};
  std::uint32_t id = 0;
  while (id == 0)
    id = last.fetch_add(1, std::memory_order_relaxed) + 1;
  return id;
}

}  // namespace

std::uint64_t thread_stack_size(std::uint64_t requested) noexcept {
  constexpr std::uint64_t floor = 256 * 1024;
  return std::max(
      {requested, default_stack_size(), floor, static_cast<std::uint64_t>(PTHREAD_STACK_MIN)});
}

bool start_detached_thread(void (*routine)(void*), void* argument,
                           std::uint64_t stack_size) noexcept {
  auto* start = new (std::nothrow) detached_start{routine, argument};
  if (start == nullptr) return fail_with(err::not_enough_memory);
  if (start_detached(run_detached, start, stack_size)) return true;
  delete start;
  return false;
}

handle create_thread(thread_routine routine, void* argument, std::uint64_t stack_size,
                     std::uint32_t& thread_id) noexcept {
  auto* control = new (std::nothrow) thread_control{routine, argument, {}};
  if (control == nullptr) return no_thread(err::not_enough_memory);
  initialize_event_state(control->ended, false);
  auto* object = new (std::nothrow) thread_object(control);
  if (object == nullptr) {
    delete control;
    return no_thread(err::not_enough_memory);
  }
  if (!start_detached(run_held, control, stack_size)) {
    std::uint32_t const code = last_error();
    control->holders.store(1, std::memory_order_relaxed);  // the thread never held it
    delete object;
    return no_thread(code);
  }
  thread_id = next_thread_id();
  return object;
}

bool thread_exit_code(handle h, std::uint32_t& code) noexcept {
  object_record* const record = record_of(h, object_kind::thread);
  if (record == nullptr) return false;
  code = static_cast<thread_object*>(record)->exit_code();
  return true;
}

}  // namespace wygl::os
