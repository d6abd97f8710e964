// Thread stacks where a stack cannot grow beyond its creation size.

#include <cstdint>

#include <gtest/gtest.h>

#include "os/thread.h"

// The trace writer alone needs 64 KB of stack: no thread of the library gets less than
// 256 KB, whatever was asked.
TEST(Thread, PosixStacksHaveAFloor) {
  for (std::uint64_t size : {0u, 8192u, 65536u})
    EXPECT_GE(wygl::os::thread_stack_size(size), 256u * 1024u) << size;
  EXPECT_EQ(wygl::os::thread_stack_size(std::uint64_t{1} << 30), std::uint64_t{1} << 30);
}
