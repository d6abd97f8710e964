#include "os/mutex.h"

#include <new>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/mutex_state.h"
#include "os/posix/named_segment.h"
#include "os/posix/object_record.h"

namespace wygl::os {
namespace {

class mutex_object final : public object_record {
 public:
  // state lives in segment, or, without a segment, is this object's own.
  mutex_object(mutex_state* state, named_segment* segment) noexcept
      : object_record(object_kind::mutex), _state(state), _segment(segment) {}

  // A mutex that a thread of this process still holds stays in memory, mapped or allocated:
  // the holding thread's list of robust mutexes runs through it, and when that thread ends
  // the system marks it abandoned there. Only this small block is kept, until the process ends.
  ~mutex_object() override {
    bool const held = held_in_this_process(*_state);
    if (_segment != nullptr) {
      release_segment(_segment, held);
    } else if (!held) {
      destroy_mutex_state(*_state);
      delete _state;
    }
  }

  std::uint32_t wait(std::uint32_t timeout_ms) noexcept override {
    return take_mutex(*_state, timeout_ms);
  }

  bool release() noexcept { return give_mutex(*_state); }

 private:
  mutex_state* _state;
  named_segment* _segment;
};

int prepare_shared_mutex(void* payload, void*) noexcept {
  return initialize_mutex_state(*new (payload) mutex_state, true);
}

}  // namespace

handle create_mutex() noexcept {
  auto* state = new (std::nothrow) mutex_state;
  if (state == nullptr) {
    set_last_error(err::not_enough_memory);
    return nullptr;
  }
  int const error = initialize_mutex_state(*state, false);
  if (error != 0) {
    delete state;
    set_last_error(windows_error_from_errno(error));
    return nullptr;
  }
  auto* object = new (std::nothrow) mutex_object(state, nullptr);
  if (object == nullptr) {
    destroy_mutex_state(*state);
    delete state;
    set_last_error(err::not_enough_memory);
  }
  return object;
}

namespace {

handle wrap_segment(segment_claim const& claim) noexcept {
  if (claim.segment == nullptr) return nullptr;
  auto* object =
      new (std::nothrow) mutex_object(static_cast<mutex_state*>(claim.payload), claim.segment);
  if (object == nullptr) {
    release_segment(claim.segment, false);
    set_last_error(err::not_enough_memory);
  }
  return object;
}

}  // namespace

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
  return record != nullptr && static_cast<mutex_object*>(record)->release();
}

}  // namespace wygl::os
