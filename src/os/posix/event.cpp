#include "os/event.h"

#include <new>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/event_state.h"
#include "os/posix/named_segment.h"
#include "os/posix/object_record.h"

namespace wygl::os {
namespace {

class event_object final : public object_record {
 public:
  // state lives in segment, or, without a segment, is this object's own.
  event_object(event_state* state, named_segment* segment) noexcept
      : object_record(object_kind::event),
        _state(state),
        _segment(segment),
        _scope(segment != nullptr ? futex_scope::shared : futex_scope::process) {}

  ~event_object() override {
    if (_segment != nullptr) {
      release_segment(_segment, false);
    } else {
      delete _state;
    }
  }

  std::uint32_t wait(std::uint32_t timeout_ms) noexcept override {
    return wait_event(*_state, _scope, timeout_ms);
  }

  void set() noexcept { set_event_state(*_state, _scope); }
  void reset() noexcept { reset_event_state(*_state); }

 private:
  event_state* _state;
  named_segment* _segment;
  futex_scope _scope;
};

int prepare_shared_event(void* payload, void* initially_set) noexcept {
  initialize_event_state(*new (payload) event_state, *static_cast<bool*>(initially_set));
  return 0;
}

handle wrap_segment(segment_claim const& claim) noexcept {
  if (claim.segment == nullptr) return nullptr;
  auto* object =
      new (std::nothrow) event_object(static_cast<event_state*>(claim.payload), claim.segment);
  if (object == nullptr) {
    release_segment(claim.segment, false);
    set_last_error(err::not_enough_memory);
  }
  return object;
}

event_object* event_of(handle h) noexcept {
  return static_cast<event_object*>(record_of(h, object_kind::event));
}

}  // namespace

handle create_event(bool initially_set) noexcept {
  auto* state = new (std::nothrow) event_state;
  if (state == nullptr) {
    set_last_error(err::not_enough_memory);
    return nullptr;
  }
  initialize_event_state(*state, initially_set);
  auto* object = new (std::nothrow) event_object(state, nullptr);
  if (object == nullptr) {
    delete state;
    set_last_error(err::not_enough_memory);
  }
  return object;
}

creation create_named_event(char const* name, bool initially_set) noexcept {
  if (name == nullptr || *name == '\0') return {create_event(initially_set), false};
  segment_claim const claim = claim_segment(name, object_kind::event, true, sizeof(event_state),
                                            prepare_shared_event, &initially_set);
  handle const object = wrap_segment(claim);
  return {object, object != nullptr && claim.existed};
}

handle open_named_event(char const* name) noexcept {
  return wrap_segment(claim_segment(name, object_kind::event, false, 0, nullptr, nullptr));
}

bool set_event(handle h) noexcept {
  event_object* const event = event_of(h);
  if (event == nullptr) return false;
  event->set();
  return true;
}

bool reset_event(handle h) noexcept {
  event_object* const event = event_of(h);
  if (event == nullptr) return false;
  event->reset();
  return true;
}

}  // namespace wygl::os
