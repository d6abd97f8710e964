#include "os/mutex.h"

#include <new>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/mutex_state.h"
#include "os/posix/named_segment.h"
#include "os/posix/object_record.h"
#include "os/posix/private_mutex.h"

namespace wygl::os {
namespace {

class mutex_record : public object_record {
 public:
  mutex_record() noexcept : object_record(object_kind::mutex) {}
  virtual bool release() noexcept = 0;
};

// A mutex of this process alone.
class private_mutex_object final : public mutex_record {
 public:
  explicit private_mutex_object(private_mutex* mutex) noexcept : _mutex(mutex) {}

  // A mutex that a thread still holds stays in memory: the holder's list of held mutexes runs
  // through it, and when that thread ends it is marked abandoned there. Only this small block
  // is kept, until the process ends.
  ~private_mutex_object() override {
    if (!_mutex->held()) delete _mutex;
  }

  std::uint32_t wait(std::uint32_t timeout_ms) noexcept override {
    return _mutex->take(timeout_ms);
  }
  bool release() noexcept override { return _mutex->give(); }

 private:
  private_mutex* _mutex;
};

// A named mutex, whose state lives in a shared segment.
class shared_mutex_object final : public mutex_record {
 public:
  shared_mutex_object(mutex_state* state, named_segment* segment) noexcept
      : _state(state), _segment(segment) {}

  // While a thread of this process holds the mutex, its segment stays mapped here, for the
  // same reason as above: the thread's list of robust mutexes runs through it.
  ~shared_mutex_object() override { release_segment(_segment, held_in_this_process(*_state)); }

  std::uint32_t wait(std::uint32_t timeout_ms) noexcept override {
    return take_mutex(*_state, timeout_ms);
  }
  bool release() noexcept override { return give_mutex(*_state); }

 private:
  mutex_state* _state;
  named_segment* _segment;
};

int prepare_shared_mutex(void* payload, void*) noexcept {
  return initialize_mutex_state(*new (payload) mutex_state);
}

handle wrap_segment(segment_claim const& claim) noexcept {
  if (claim.segment == nullptr) return nullptr;
  auto* object = new (std::nothrow)
      shared_mutex_object(static_cast<mutex_state*>(claim.payload), claim.segment);
  if (object == nullptr) {
    release_segment(claim.segment, false);
    set_last_error(err::not_enough_memory);
  }
  return object;
}

}  // namespace

handle create_mutex() noexcept {
  auto* mutex = new (std::nothrow) private_mutex;
  auto* object = mutex == nullptr ? nullptr : new (std::nothrow) private_mutex_object(mutex);
  if (object == nullptr) {
    delete mutex;
    set_last_error(err::not_enough_memory);
  }
  return object;
}

creation create_named_mutex(char const* name) noexcept {
  if (name == nullptr || *name == '\0') return {create_mutex(), false};
  segment_claim const claim = claim_segment(name, object_kind::mutex, true, sizeof(mutex_state),
                                            prepare_shared_mutex, nullptr);
  handle const object = wrap_segment(claim);
  return {object, object != nullptr && claim.existed};
}

handle open_named_mutex(char const* name) noexcept {
  return wrap_segment(claim_segment(name, object_kind::mutex, false, 0, nullptr, nullptr));
}

bool release_mutex(handle h) noexcept {
  object_record* const record = record_of(h, object_kind::mutex);
  return record != nullptr && static_cast<mutex_record*>(record)->release();
}

}  // namespace wygl::os
