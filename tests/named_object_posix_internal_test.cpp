// The lock that serialises named objects among processes: a taker never waits for ever.

#include <chrono>

#include <gtest/gtest.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/global_lock.h"

// A holder that does not let go (a process stopped while holding it) costs a taker its time
// limit and ERROR_TIMEOUT; once it lets go, the lock is free.
TEST(NamedObjectPosix, TheGlobalLockIsTakenWithinATimeLimit) {
  using wygl::os::global_lock;
  {
    global_lock const holder;
    ASSERT_TRUE(holder.held());
    auto const start = std::chrono::steady_clock::now();
    global_lock const taker(100);
    auto const taken = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(taker.held());
    EXPECT_EQ(wygl::os::last_error(), wygl::os::err::timeout);
    EXPECT_GE(taken, std::chrono::milliseconds(100));
    EXPECT_LT(taken, std::chrono::seconds(10));
  }
  EXPECT_TRUE(global_lock(100).held());
}
