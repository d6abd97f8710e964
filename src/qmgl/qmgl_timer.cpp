#include <wygl/qmgl_timer.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <new>

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

#include "os/kernel_object.h"
#include "qmgl/qmgl_alloc.h"
#include "qmgl/qmgl_guard_hold.h"
#include "qmgl/qmgl_timer_ids.h"
#include "qmgl/qmgl_worker.h"
#include "wytr/wytr_scope.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_timer";
constexpr std::uint32_t pass_interval_ms = 1000;
constexpr std::uint32_t terminate_wait_ms = 2000;

// The calendar clock in 32-bit seconds, and sums and differences on it that wrap as 32-bit
// numbers do.
std::int32_t now_seconds() noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
}

std::int32_t later_by(std::int32_t time, int seconds) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(time) +
                                   static_cast<std::uint32_t>(seconds));
}

bool is_due(std::int32_t now, std::int32_t due) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                   static_cast<std::uint32_t>(due)) >= 0;
}

}  // namespace

struct qmgl_timer::alarm_entry {
  std::unique_ptr<qmgl_callback<int>> callback;
  int interval;  // seconds
  std::int32_t due;
  bool periodic;
  long id;
  bool firing = false;   // its callback runs
  bool removed = false;  // removed while it fired: deleted when the call returns
};

namespace {

// Marks an entry as firing while its callback runs, whichever way the call ends.
template <class Entry>
class firing_mark {
 public:
  explicit firing_mark(Entry& entry) noexcept : _entry(entry) { _entry.firing = true; }
  ~firing_mark() { _entry.firing = false; }
  firing_mark(firing_mark const&) = delete;
  firing_mark& operator=(firing_mark const&) = delete;

 private:
  Entry& _entry;
};

}  // namespace

qmgl_timer* qmgl_timer::selfPtr = nullptr;

void qmgl_timer::create() {
  wytr::operation_scope const scope(wytr::tp::timer_create, wytr::depth::public_operation);
  try {
    if (selfPtr != nullptr) {
      scope.note(wytr::level::error_text, wytr::kind::error_text, "Already Exists\n");
      throw exc_already_exists_t(source_file, __LINE__, "exc_already_exists");
    }
    selfPtr = qmgl_check_alloc(source_file, __LINE__, new (std::nothrow) qmgl_timer);
  } catch (...) {
    wygl::worker::note_caught(scope);
    throw;
  }
}

void qmgl_timer::destroy() {
  wytr::operation_scope const scope(wytr::tp::timer_destroy, wytr::depth::public_operation);
  try {
    if (selfPtr == nullptr) throw exc_does_not_exist_t(source_file, __LINE__, "exc_does_not_exist");
    delete selfPtr;
    selfPtr = nullptr;
  } catch (...) {
    wygl::worker::note_caught(scope);
    throw;
  }
}

qmgl_timer& qmgl_timer::getSelf() {
  if (selfPtr == nullptr)
    throw exc_assertion_failed_t(source_file, __LINE__, "unexpected null pointer");
  return *selfPtr;
}

qmgl_timer::qmgl_timer()
    : _thread_handle(nullptr),
      _wakeup(qmgl_sync_sema::not_posted),
      _thread(nullptr),
      _stopping(false),
      _last_id(0),
      _ids_wrapped(false) {
  wytr::operation_scope const scope(wytr::tp::timer_constructor, wytr::depth::public_operation,
                                    this);
  _wakeup.reset();
  std::uint32_t thread_id = 0;
  _thread =
      wygl::worker::start_thread(scope, thread_procedure, this, thread_id, source_file, __LINE__);
  _thread_handle = _thread;
  scope.note(wytr::level::resource, wytr::kind::resource, "Thread Started with ID:%d Handle=%p\n",
             static_cast<int>(thread_id), _thread);
}

qmgl_timer::~qmgl_timer() {
  wytr::operation_scope const scope(wytr::tp::timer_destructor, wytr::depth::public_operation,
                                    this);
  if (_thread_handle != nullptr) terminate();
  // The entries are freed next: the thread must have left them for good, even when a callback
  // outlasts terminate's wait.
  wygl::os::wait_for(_thread, wygl::os::wait_forever);
  wygl::os::close_handle(_thread);
  for (alarm_entry* entry : _entries)
    delete entry;
  _entries.clear();
}

long qmgl_timer::add_alarm(qmgl_callback<int>* callback, int seconds) {
  return add(callback, seconds, false, wytr::tp::timer_add_alarm);
}

long qmgl_timer::add_periodic(qmgl_callback<int>* callback, int seconds) {
  return add(callback, seconds, true, wytr::tp::timer_add_periodic);
}

long qmgl_timer::add(qmgl_callback<int>* callback, int seconds, bool periodic,
                     std::uint32_t tracepoint) {
  wytr::operation_scope const scope(tracepoint, wytr::depth::public_operation, this);
  std::unique_ptr<qmgl_callback<int>> owned(callback);
  try {
    if (!owned) throw exc_invalid_parameter_t(source_file, __LINE__, "exc_invalid_parameter");
    std::unique_ptr<alarm_entry> entry(qmgl_check_alloc(
        source_file, __LINE__,
        new (std::nothrow)
            alarm_entry{std::move(owned), seconds, later_by(now_seconds(), seconds), periodic, 0}));
    qmgl_guard_hold const hold(_guard);
    entry->id = unused_id();
    _entries.push_back(entry.get());
    return entry.release()->id;
  } catch (...) {
    wygl::worker::note_caught(scope);
    wygl::worker::raise_caught(source_file, __LINE__);
  }
}

// Called with _guard held.
long qmgl_timer::unused_id() {
  return wygl::timer_ids::next(_last_id, _ids_wrapped, [this](long id) {
    return std::any_of(_entries.begin(), _entries.end(),
                       [id](alarm_entry const* entry) { return entry->id == id; });
  });
}

bool qmgl_timer::remove(long id) {
  wytr::operation_scope const scope(wytr::tp::timer_remove, wytr::depth::public_operation, this);
  try {
    qmgl_guard_hold const hold(_guard);
    auto const found = std::find_if(_entries.begin(), _entries.end(),
                                    [id](alarm_entry const* entry) { return entry->id == id; });
    if (found == _entries.end() || (*found)->removed) return false;
    if ((*found)->firing) {
      (*found)->removed = true;
    } else {
      delete *found;
      _entries.erase(found);
    }
    return true;
  } catch (...) {
    wygl::worker::note_caught(scope);
    wygl::worker::raise_caught(source_file, __LINE__);
  }
}

int qmgl_timer::terminate() {
  void* const handle = _thread_handle;
  wytr::operation_scope const scope(wytr::tp::timer_terminate, wytr::depth::public_operation, this,
                                    "Handle=%p", handle);
  try {
    _thread_handle = nullptr;
    _stopping.store(true, std::memory_order_relaxed);
    _wakeup.post();
    // The result is not examined: a thread that outlasts the wait is waited for again by the
    // destructor.
    if (handle != nullptr) wygl::os::wait_for(handle, terminate_wait_ms);
    return 0;
  } catch (...) {
    wygl::worker::note_caught(scope);
    return static_cast<int>(wygl::worker::caught_exception);
  }
}

std::uint32_t qmgl_timer::thread_procedure(void* timer) noexcept {
  auto* const self = static_cast<qmgl_timer*>(timer);
  wytr::operation_scope const scope(wytr::tp::timer_thread_body, wytr::depth::public_operation,
                                    self);
  try {
    while (!self->_stopping.load(std::memory_order_relaxed)) {
      self->_wakeup.wait(static_cast<long>(pass_interval_ms));
      self->_wakeup.reset();
      self->fire_due_entries(now_seconds());
    }
    return 0;
  } catch (...) {
    wygl::worker::note_caught(scope);
    return static_cast<std::uint32_t>(wygl::worker::caught_exception);
  }
}

void qmgl_timer::fire_due_entries(std::int32_t now) {
  qmgl_guard_hold const hold(_guard);
  // A callback may append entries (the walk reaches them) and remove others (the walk holds
  // no position but that of the entry whose callback runs); its own entry is only marked.
  for (auto position = _entries.begin(); position != _entries.end();) {
    alarm_entry* const entry = *position;
    if (!is_due(now, entry->due)) {
      ++position;
      continue;
    }
    entry->due = later_by(now, entry->interval);
    {
      firing_mark const mark(*entry);
      int argument = 0;
      entry->callback->call(argument);
    }
    if (entry->periodic && !entry->removed) {
      ++position;
      continue;
    }
    position = _entries.erase(position);
    delete entry;
  }
}
