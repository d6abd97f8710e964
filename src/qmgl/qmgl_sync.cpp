#include <wygl/qmgl_sync.h>

#include <cstdint>
#include <exception>

#include <wygl/qmgl_exc.h>

#include "os/critical_section.h"
#include "os/event.h"
#include "os/kernel_object.h"
#include "os/mutex.h"
#include "qmgl/qmgl_action.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_sync";

// Windows takes time limits as 32-bit counts, in which -1 is "no limit".
std::uint32_t wait_limit(long timeout) noexcept {
  return static_cast<std::uint32_t>(static_cast<unsigned long>(timeout));
}

[[noreturn]] void raise_should_not_execute(int line) {
  throw exc_should_not_execute_t(source_file, line, "exc_should_not_execute");
}

// A failed system call: its error, or, when the system recorded none, a case without meaning.
[[noreturn]] void raise_system_failure(int line) {
  exc_t::throw_last_w32_error(source_file, line);
  raise_should_not_execute(line);
}

// A wait's outcome as an indicator; raises for a failed wait and for results without meaning
// (a time-out counts only when the wait had a limit).
qmgl_wait_error_indicator outcome_of(std::uint32_t result, bool limited,
                                     qmgl_wait_error_indicator& recorded) {
  switch (result) {
    case wygl::os::wait_obtained:
      return recorded = qmgl_wait_no_error;
    case wygl::os::wait_abandoned:
      return recorded = qmgl_wait_abandoned;
    case wygl::os::wait_timed_out:
      if (limited) return recorded = qmgl_wait_timeout;
      break;
    case wygl::os::wait_failed:
      recorded = qmgl_wait_failed;
      raise_system_failure(__LINE__);
    default:
      break;
  }
  recorded = qmgl_wait_failed;
  raise_should_not_execute(__LINE__);
}

void* checked(void* handle, int line) {
  if (handle == nullptr) raise_system_failure(line);
  return handle;
}

// The handle of a named object under the create, open and already-exists rules.
template <class Create, class Open>
void* named_object(char const* name, qmgl_action_indicator action, Create create, Open open) {
  if (!qmgl_action_creates(action)) return checked(open(name), __LINE__);
  wygl::os::creation const made = create(name);
  checked(made.object, __LINE__);
  if (made.existed && !qmgl_action_accepts_existing(action)) {
    wygl::os::close_handle(made.object);
    throw exc_already_exists_t(source_file, __LINE__, "exc_already_exists");
  }
  return made.object;
}

[[noreturn]] void raise_owner_died(qmgl_sync_lock& lock, int line) {
  lock.release();
  throw exc_owner_died_t(source_file, line, "exc_owner_died");
}

}  // namespace

qmgl_sync::~qmgl_sync() = default;

qmgl_sync_imp::~qmgl_sync_imp() {
  wygl::os::close_handle(_handle);
}

// Locks.

qmgl_sync_lock::qmgl_sync_lock(void* handle) noexcept
    : qmgl_sync_imp(handle), _wait_error(qmgl_wait_no_error) {}

qmgl_sync_lock::~qmgl_sync_lock() = default;

void qmgl_sync_lock::request() {
  outcome_of(wygl::os::wait_for(_handle, wygl::os::wait_forever), false, _wait_error);
}

qmgl_wait_error_indicator qmgl_sync_lock::request(long timeout) {
  return outcome_of(wygl::os::wait_for(_handle, wait_limit(timeout)), true, _wait_error);
}

void qmgl_sync_lock::release() {
  if (!wygl::os::release_mutex(_handle)) raise_system_failure(__LINE__);
}

qmgl_wait_error_indicator qmgl_sync_lock::get_wait_error() const {
  return _wait_error;
}

qmgl_sync_lock_private::qmgl_sync_lock_private()
    : qmgl_sync_lock(checked(wygl::os::create_mutex(), __LINE__)) {}

qmgl_sync_lock_private::~qmgl_sync_lock_private() = default;

qmgl_sync_lock_shared::qmgl_sync_lock_shared(char const* name, qmgl_action_indicator action)
    : qmgl_sync_lock(
          named_object(name, action, wygl::os::create_named_mutex, wygl::os::open_named_mutex)) {}

qmgl_sync_lock_shared::~qmgl_sync_lock_shared() = default;

// Signals.

qmgl_sync_sema::~qmgl_sync_sema() = default;

void qmgl_sync_sema::post() {
  if (!wygl::os::set_event(_handle)) raise_system_failure(__LINE__);
}

void qmgl_sync_sema::reset() {
  if (!wygl::os::reset_event(_handle)) raise_system_failure(__LINE__);
}

qmgl_wait_error_indicator qmgl_sync_sema::wait(long timeout) {
  std::uint32_t const result = wygl::os::wait_for(_handle, wait_limit(timeout));
  if (result == wygl::os::wait_obtained) return qmgl_wait_no_error;
  if (result == wygl::os::wait_timed_out) return qmgl_wait_timeout;
  if (result == wygl::os::wait_failed) raise_system_failure(__LINE__);
  raise_should_not_execute(__LINE__);
}

void qmgl_sync_sema::wait() {
  std::uint32_t const result = wygl::os::wait_for(_handle, wygl::os::wait_forever);
  if (result == wygl::os::wait_obtained) return;
  if (result == wygl::os::wait_failed) raise_system_failure(__LINE__);
  raise_should_not_execute(__LINE__);
}

qmgl_sync_sema_private::qmgl_sync_sema_private(state_indicator state)
    : qmgl_sync_sema(checked(wygl::os::create_event(state == posted), __LINE__)) {}

qmgl_sync_sema_private::~qmgl_sync_sema_private() = default;

qmgl_sync_sema_shared::qmgl_sync_sema_shared(char const* name, qmgl_action_indicator action,
                                             state_indicator state)
    : qmgl_sync_sema(named_object(
          name, action,
          [state](char const* n) { return wygl::os::create_named_event(n, state == posted); },
          wygl::os::open_named_event)) {}

qmgl_sync_sema_shared::~qmgl_sync_sema_shared() = default;

// Scope objects.

qmgl_sync_monitor::qmgl_sync_monitor(qmgl_sync_lock& lock) : _lock(lock) {
  _lock.request();
  if (_lock.get_wait_error() == qmgl_wait_abandoned) raise_owner_died(_lock, __LINE__);
}

qmgl_sync_monitor::qmgl_sync_monitor(qmgl_sync_lock& lock, long timeout) : _lock(lock) {
  qmgl_wait_error_indicator const outcome = _lock.request(timeout);
  if (outcome == qmgl_wait_timeout) throw exc_timeout_t(source_file, __LINE__, "exc_timeout");
  if (outcome == qmgl_wait_abandoned) raise_owner_died(_lock, __LINE__);
}

qmgl_sync_monitor::~qmgl_sync_monitor() noexcept(false) {
  _lock.release();
}

qmgl_sync_unlock_monitor::qmgl_sync_unlock_monitor(qmgl_sync_lock& lock)
    : _lock(lock), _exceptions_at_start(std::uncaught_exceptions()) {
  _lock.release();
}

qmgl_sync_unlock_monitor::~qmgl_sync_unlock_monitor() noexcept(false) {
  if (std::uncaught_exceptions() > _exceptions_at_start) {
    // Raising now would end the program: keep the lock, as the enclosing scope expects.
    try {
      _lock.request();
    } catch (exc_t const&) {
    }
    return;
  }
  _lock.request();
  if (_lock.get_wait_error() == qmgl_wait_abandoned) raise_owner_died(_lock, __LINE__);
}

// The critical region.

static_assert(sizeof(qmgl_guard) >= wygl::os::critical_section_size);
static_assert(alignof(qmgl_guard) >= wygl::os::critical_section_alignment);

qmgl_guard::qmgl_guard() noexcept {
  wygl::os::initialize_critical_section(_section);
}

qmgl_guard::~qmgl_guard() {
  wygl::os::delete_critical_section(_section);
}

void qmgl_guard::enterCriticalRegion() noexcept {
  wygl::os::enter_critical_section(_section);
}

void qmgl_guard::leaveCriticalRegion() noexcept {
  wygl::os::leave_critical_section(_section);
}
