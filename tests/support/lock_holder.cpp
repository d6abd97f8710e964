#include "support/lock_holder.h"

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

constexpr long held_limit_ms = 60000;

// The helper waits this long to be killed before it gives up with exit code 3, so that a
// test that fails to kill it leaves nothing running for long.
constexpr long kill_limit_ms = 120000;

}  // namespace

WYGL_CHILD_ROLE(hold_lock_until_killed) {  // args: lock name, "create" or "open", signal name
  qmgl_sync_lock_shared lock(args.at(0).c_str(),
                             args.at(1) == "create" ? qmgl_action_create : qmgl_action_open);
  if (lock.request(held_limit_ms) != qmgl_wait_no_error) return 2;
  qmgl_sync_sema_shared(args.at(2).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted).post();
  qmgl_sync_sema_private never;
  never.wait(kill_limit_ms);
  return 3;
}

lock_holder_process::lock_holder_process(std::string const& lock_name, qmgl_action_indicator action)
    : _held_name(unique_object_name("held")),
      _held(_held_name.c_str(), qmgl_action_create, qmgl_sync_sema::not_posted),
      _child("hold_lock_until_killed",
             {lock_name, action == qmgl_action_open ? "open" : "create", _held_name}) {
  if (_held.wait(held_limit_ms) == qmgl_wait_no_error) return;
  std::optional<int> const code = _child.wait_for_exit(std::chrono::milliseconds(0));
  throw std::runtime_error("the lock holder did not take " + lock_name +
                           (code ? ", exit code " + std::to_string(*code) : ", still running"));
}
