#include "os/posix/event_state.h"

#include <cerrno>
#include <climits>

#include "os/kernel_object.h"
#include "os/last_error.h"
#include "os/posix/deadline.h"
#include "os/posix/errno_map.h"

namespace wygl::os {
namespace {

constexpr std::uint32_t set_flag = 1;
constexpr std::uint32_t sleeper_flag = 2;
constexpr std::uint32_t generation_step = 4;

// Whether a waiter that found the word at start may return now. The generation wraps after
// 2^30 sets; a waiter would miss a set only if exactly that many came between two of its looks.
bool released(std::uint32_t word, std::uint32_t start) noexcept {
  return (word & set_flag) != 0 || word / generation_step != start / generation_step;
}

}  // namespace

void initialize_event_state(event_state& state, bool initially_set) noexcept {
  state.word.store(initially_set ? set_flag : 0, std::memory_order_relaxed);
}

std::uint32_t wait_event(event_state& state, futex_scope scope, std::uint32_t timeout_ms) noexcept {
  std::uint32_t const start = state.word.load(std::memory_order_acquire);
  if ((start & set_flag) != 0) return wait_obtained;
  if (timeout_ms == 0) return wait_timed_out;
  timespec deadline{};
  timespec const* limit = nullptr;
  if (timeout_ms != wait_forever) {
    deadline = monotonic_deadline_after(timeout_ms);
    limit = &deadline;
  }
  std::uint32_t word = start;
  for (;;) {
    // The sleeper flag first, so that the set that changes the word also wakes this thread.
    if ((word & sleeper_flag) == 0 &&
        !state.word.compare_exchange_weak(word, word | sleeper_flag, std::memory_order_acquire,
                                          std::memory_order_acquire)) {
      if (released(word, start)) return wait_obtained;
      continue;
    }
    word |= sleeper_flag;
    int const result = futex_wait(state.word, word, limit, scope);
    word = state.word.load(std::memory_order_acquire);
    if (released(word, start)) return wait_obtained;
    if (result == ETIMEDOUT) return wait_timed_out;
    if (result != 0 && result != EAGAIN && result != EINTR) {
      set_last_error(windows_error_from_errno(result));
      return wait_failed;
    }
  }
}

void set_event_state(event_state& state, futex_scope scope) noexcept {
  std::uint32_t word = state.word.load(std::memory_order_relaxed);
  std::uint32_t next = 0;
  // A set event is written again unchanged, so that a waiter that finds it set also sees what
  // this thread wrote before it set the event.
  do {
    next = (word & set_flag) != 0
               ? word
               : ((word & ~(set_flag | sleeper_flag)) + generation_step) | set_flag;
  } while (!state.word.compare_exchange_weak(word, next, std::memory_order_acq_rel,
                                             std::memory_order_relaxed));
  // No thread sleeps on a set word.
  if ((word & (set_flag | sleeper_flag)) == sleeper_flag) futex_wake(state.word, INT_MAX, scope);
}

void reset_event_state(event_state& state) noexcept {
  state.word.fetch_and(~set_flag, std::memory_order_release);
}

}  // namespace wygl::os
