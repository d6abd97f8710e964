// Identifiers of timer registrations beyond what a test can register.

#include <set>

#include <gtest/gtest.h>

#include "qmgl/qmgl_timer_ids.h"

TEST(TimerInternal, IdentifiersWrapAndThenSkipThoseInUse) {
  namespace ids = wygl::timer_ids;
  std::set<long> in_use{1, 2, 4};
  auto const taken = [&](long id) { return in_use.count(id) != 0; };
  long last = 0;
  bool wrapped = false;
  EXPECT_EQ(ids::next(last, wrapped, taken), 1);  // before the wrap, nothing is searched
  last = ids::last_id - 1;
  EXPECT_EQ(ids::next(last, wrapped, taken), 0x7FFFFFFF);
  EXPECT_FALSE(wrapped);
  EXPECT_EQ(ids::next(last, wrapped, taken), 3);
  EXPECT_EQ(ids::next(last, wrapped, taken), 5);
  in_use.erase(1);
  last = ids::last_id;
  EXPECT_EQ(ids::next(last, wrapped, taken), 1);
}
