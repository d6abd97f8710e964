#include <wygl/qmgl_task_doer.h>

#include <cstdint>
#include <memory>

#include <wygl/qmgl_exc.h>
#include <wygl/wytr_ids.h>

#include "os/error_codes.h"
#include "os/kernel_object.h"
#include "qmgl/qmgl_alloc.h"
#include "qmgl/qmgl_error_note.h"
#include "qmgl/qmgl_guard_hold.h"
#include "qmgl/qmgl_worker.h"
#include "wytr/wytr_scope.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_task_doer";

using message_queue = std::deque<qmgl_task_message_base*>;

// Takes the oldest message of queue, which is not empty; the caller owns it from then on.
std::unique_ptr<qmgl_task_message_base> take_oldest(message_queue& queue) noexcept {
  std::unique_ptr<qmgl_task_message_base> message(queue.front());
  queue.pop_front();
  return message;
}

// Messages taken out of the shared queue; those still here when it goes are deleted unrun.
struct owned_batch {
  message_queue messages;

  owned_batch() = default;
  owned_batch(owned_batch const&) = delete;
  owned_batch& operator=(owned_batch const&) = delete;
  ~owned_batch() {
    for (qmgl_task_message_base* message : messages)
      delete message;
  }
};

}  // namespace

qmgl_task_message_base::~qmgl_task_message_base() = default;

qmgl_task_doer::qmgl_task_doer(int, int start)
    : _state(start != 0 ? running : suspended),
      _thread_handle(nullptr),
      _wakeup(qmgl_sync_sema::not_posted),
      _gate(start != 0 ? qmgl_sync_sema::posted : qmgl_sync_sema::not_posted) {
  wytr::operation_scope const scope(wytr::tp::task_doer_constructor, wytr::depth::public_operation,
                                    this);
  _wakeup.reset();
  std::uint32_t thread_id = 0;
  _thread_handle =
      wygl::worker::start_thread(scope, worker_procedure, this, thread_id, source_file, __LINE__);
  scope.note(wytr::level::resource, wytr::kind::resource, "Thread Started with ID:%d\n",
             static_cast<int>(thread_id));
}

qmgl_task_doer::~qmgl_task_doer() {
  wytr::operation_scope const scope(wytr::tp::task_doer_destructor, wytr::depth::public_operation,
                                    this);
  if (_state.load(std::memory_order_relaxed) != terminated) terminate();
  if (_queue.empty()) return;
  // The worker has ended and no other thread may add any more: no lock is needed, and none
  // is held while the messages run.
  scope.note(wytr::level::error_text, wytr::kind::error_text,
             "In destructor there %d messags to be executed\n", static_cast<int>(_queue.size()));
  while (!_queue.empty()) {
    std::unique_ptr<qmgl_task_message_base> const message = take_oldest(_queue);
    try {
      message->execute();
    } catch (...) {
      wygl::worker::note_caught(scope);
    }
  }
}

void qmgl_task_doer::add_task(qmgl_task_message_base const& message) {
  try {
    // Copied before the queue is locked: the lock is held only while messages are moved.
    std::unique_ptr<qmgl_task_message_base> copy(
        qmgl_check_alloc(source_file, __LINE__, message.clone()));
    bool was_empty = false;
    {
      qmgl_guard_hold const hold(_guard);
      was_empty = _queue.empty();
      _queue.push_back(copy.get());
    }
    copy.release();
    // Messages already waiting will be taken together with this one, and the add that queued
    // the first of them posts (or has posted) after it: one post per batch wakes the worker
    // as surely as one per message, and spares the busy worker's producers the signal's lock.
    if (was_empty) _wakeup.post();
  } catch (...) {
    wygl::worker::note_caught(wytr::tp::task_doer_add_task, this);
    wygl::worker::raise_caught(source_file, __LINE__);
  }
}

int qmgl_task_doer::run() {
  return set_gate(true, wytr::tp::task_doer_run, "ERROR ResumeThread rc=%d\n%S", running);
}

int qmgl_task_doer::suspend() {
  return set_gate(false, wytr::tp::task_doer_suspend, "ERROR SuspendThread rc=%d\n%S", suspended);
}

int qmgl_task_doer::set_gate(bool open, std::uint32_t tracepoint, char const* failure_format,
                             STATE state) {
  wytr::operation_scope const scope(tracepoint, wytr::depth::public_operation, this);
  try {
    // A worker that terminate has ended has no thread left to let go or hold back.
    std::uint32_t error = _thread_handle == nullptr ? wygl::os::err::invalid_handle : 0;
    if (error == 0) {
      try {
        if (open)
          _gate.post();
        else
          _gate.reset();
      } catch (exc_unmapped_t const& e) {
        error = static_cast<std::uint32_t>(e.code);
      }
    }
    if (error != 0) {
      wygl::note_system_error(scope, failure_format, error);
      return static_cast<int>(error);
    }
    _state.store(state, std::memory_order_release);
    return 0;
  } catch (...) {
    wygl::worker::note_caught(scope);
    return static_cast<int>(wygl::worker::caught_exception);
  }
}

int qmgl_task_doer::terminate() {
  wytr::operation_scope const scope(wytr::tp::task_doer_terminate, wytr::depth::public_operation,
                                    this);
  try {
    _state.store(terminated, std::memory_order_release);
    _wakeup.post();
    _gate.post();
    if (_thread_handle != nullptr) {
      wygl::os::wait_for(_thread_handle, wygl::os::wait_forever);
      wygl::os::close_handle(_thread_handle);
      _thread_handle = nullptr;
    }
    return 0;
  } catch (...) {
    wygl::worker::note_caught(scope);
    return static_cast<int>(wygl::worker::caught_exception);
  }
}

std::uint32_t qmgl_task_doer::worker_procedure(void* task_doer) noexcept {
  auto* const self = static_cast<qmgl_task_doer*>(task_doer);
  wytr::operation_scope const scope(wytr::tp::task_doer_worker, wytr::depth::public_operation,
                                    self);
  try {
    self->work();
    return 0;
  } catch (...) {
    wygl::worker::note_caught(scope);
    return static_cast<std::uint32_t>(wygl::worker::caught_exception);
  }
}

// The gate is closed only while the state says suspended: run and suspend change the gate
// first and the state after it, so a worker that reads another state may pass without the
// signal's lock, and one that reads suspended finds the gate already closed (or open again).
void qmgl_task_doer::pass_gate() {
  if (_state.load(std::memory_order_acquire) == suspended) _gate.wait();
}

// The messages of a batch that a raising message cuts short are deleted unrun.
void qmgl_task_doer::work() {
  // Kept across batches: swapping it with the shared queue hands over a batch without
  // allocating, under the lock or outside it.
  owned_batch batch;
  while (_state.load(std::memory_order_relaxed) != terminated) {
    _wakeup.wait();
    _wakeup.reset();
    pass_gate();
    {
      qmgl_guard_hold const hold(_guard);
      batch.messages.swap(_queue);
    }
    while (!batch.messages.empty()) {
      pass_gate();
      take_oldest(batch.messages)->execute();
    }
  }
}
