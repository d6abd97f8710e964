// Allocation failures of strings and conversions. This program holds the library itself
// (linked from the static archive), so replacing the nothrow form of operator new here, as the
// language allows, reaches the library's allocations on every platform. The replacement only
// acts when a test arms it, on the arming thread.

#include <cstddef>
#include <functional>
#include <new>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>

namespace {

thread_local bool fail_next_allocation = false;

}  // namespace

void* operator new(std::size_t size, std::nothrow_t const&) noexcept {
  if (fail_next_allocation) {
    fail_next_allocation = false;
    return nullptr;
  }
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

TEST(StringsAllocation, FailedBuildsRaiseAndKeepTheOldText) {
  using str = qmgl_ntarray_of<char, 0>;
  using uni = qmgl_ntarray_of<unsigned short, 0>;
  str s("old");
  str const t("tail");
  char const* const old_data = s;
  uni w(reinterpret_cast<unsigned short const*>(u"caf\u00E9"));
  std::function<void()> const builds[] = {
      [&] { s = "new text"; },
      [&] { s += t; },
      [&] { s += "x"; },
      [&] { s += 'x'; },
      [&] { s -= 1; },
      [&] { w += static_cast<unsigned short>('x'); },
      [] { str made; },
      [] { str made("abc"); },
      [] { str made("abc", 2u); },
      [] { str made("ab", "cd"); },
      [] { str made("ab", 2u, "cd", 2u); },
      [&] { str made = s + t; },
      [&] { str made = s + "x"; },
      [&] { str made = s + 'x'; },
      [&] { str made = s - 1; },
      [&] { str made = s.substring(1, 1); },
      [&] { qmgl_uni_to_qmgl_str(w); },
      [&] { qmgl_str_to_qmgl_uni(t); },
  };
  for (std::size_t i = 0; i < std::size(builds); ++i) {
    fail_next_allocation = true;
    try {
      builds[i]();
      ADD_FAILURE() << "build " << i << " did not raise";
    } catch (exc_not_enough_memory_t const& e) {
      EXPECT_EQ(e.code, 0x20000001u);
      EXPECT_STREQ(e.message, "not enough memory");
      EXPECT_STREQ(e.file, "src/qmgl/qmgl_ntarray");
    }
    EXPECT_FALSE(fail_next_allocation) << "build " << i << " allocated nothing";
    fail_next_allocation = false;
  }
  EXPECT_EQ(static_cast<char const*>(s), old_data) << "still on its old body";
  EXPECT_EQ(s._imp->count.value(), 1);
  EXPECT_EQ(w.length(), 4u);
  s += 'x';  // the next allocation succeeds again
  EXPECT_STREQ(s, "oldx");
}
