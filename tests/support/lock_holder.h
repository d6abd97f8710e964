// A helper process that takes a named lock and keeps it until it is killed, for tests of locks
// whose holder dies without any chance to let go.
//
//   lock_holder_process holder(name, qmgl_action_open);  // returns once the helper holds it
//   holder.kill();                                       // SIGKILL / TerminateProcess
//   lock.request();                                      // qmgl_wait_abandoned
//
// A program that uses it compiles lock_holder.cpp among its own sources, which registers the
// helper's role (child_process.h).

#ifndef WYGL_TESTS_SUPPORT_LOCK_HOLDER_H
#define WYGL_TESTS_SUPPORT_LOCK_HOLDER_H

#include <string>

#include <wygl/qmgl_sync.h>

#include "support/child_process.h"

class lock_holder_process {
 public:
  // Starts the helper, which opens (qmgl_action_open) or creates (any other action, as
  // qmgl_action_create) the lock named lock_name and takes it, and waits at most 60 s until it
  // reports that it holds it. Throws std::runtime_error when it does not, with the helper's exit
  // code when it ended.
  lock_holder_process(std::string const& lock_name, qmgl_action_indicator action);

  // Ends the helper at once, holding the lock, and waits for its end.
  void kill() { _child.kill(); }

 private:
  std::string _held_name;
  qmgl_sync_sema_shared _held;
  child_process _child;
};

#endif  // WYGL_TESTS_SUPPORT_LOCK_HOLDER_H
