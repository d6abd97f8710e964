#include "qmgl/qmgl_worker.h"

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

#include "os/last_error.h"
#include "qmgl/qmgl_error_note.h"

namespace wygl::worker {

void note_caught(wytr::operation_scope const& scope) noexcept {
  scope.note(wytr::level::error_text, wytr::kind::error_text, "In catch ERROR\n");
}

void note_caught(std::uint32_t tracepoint, void const* object) noexcept {
  if (wytr_enabled(wytr::level::error_text))
    wytr::write_text(wytr::kind_word(wytr::kind::error_text), tracepoint, object,
                     "In catch ERROR\n");
}

void raise_caught(char const* source_file, int source_line) {
  exc_t::throw_w32_error(source_file, source_line, caught_exception);
  // throw_w32_error raises for every code but 0.
  throw exc_should_not_execute_t(source_file, source_line, "exc_should_not_execute");
}

void* start_thread(wytr::operation_scope const& scope, os::thread_routine routine, void* owner,
                   std::uint32_t& thread_id, char const* source_file, int source_line) {
  constexpr std::uint64_t stack_size = 65536;
  void* const thread = os::create_thread(routine, owner, stack_size, thread_id);
  if (thread == nullptr) {
    note_system_error(scope, "ERROR CreateThread rc=%d\n%S", os::last_error());
    raise_caught(source_file, source_line);
  }
  return thread;
}

}  // namespace wygl::worker
