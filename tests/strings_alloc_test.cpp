// Allocation failures of strings and conversions. This program holds the library itself
// (linked from the static archive), so replacing the nothrow form of operator new here, as the
// language allows, reaches the library's allocations on every platform, once the thread keeps
// no free blocks of its own (qmgl_small_blocks.h). The replacement only acts when a test arms
// it, on the arming thread.

#include <cstddef>
#include <new>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_small_blocks.h>

namespace {

thread_local int failures_armed = -1;  // -1: none; n >= 0: fail after n more successes
thread_local int nothrow_allocations = 0;

}  // namespace

void* operator new(std::size_t size, std::nothrow_t const&) noexcept {
  ++nothrow_allocations;
  if (failures_armed == 0) {
    failures_armed = -1;
    return nullptr;
  }
  if (failures_armed > 0) --failures_armed;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;

// Runs f with the allocation after `successes` more failing; expects exc_not_enough_memory_t
// as the library raises it.
template <class F>
void expect_out_of_memory(F f, char const* file, int successes = 0) {
  qmgl_small_blocks_keep_on_this_thread(false);
  failures_armed = successes;
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (exc_not_enough_memory_t const& e) {
    EXPECT_EQ(e.code, 0x20000001u);
    EXPECT_STREQ(e.message, "not enough memory");
    EXPECT_STREQ(e.file, file);
  }
  EXPECT_EQ(failures_armed, -1) << "the armed failure was not reached";
  failures_armed = -1;
}

constexpr char ntarray_file[] = "src/qmgl/qmgl_ntarray";

TEST(StringsAllocation, FailedBuildsRaiseAndKeepTheOldText) {
  str s("old");
  str const t("tail");
  char const* const old_data = s;

  expect_out_of_memory([&] { s = "new text"; }, ntarray_file);
  expect_out_of_memory([&] { s += t; }, ntarray_file);
  expect_out_of_memory([&] { s += "x"; }, ntarray_file);
  expect_out_of_memory([&] { s += 'x'; }, ntarray_file);
  expect_out_of_memory([&] { s -= 1; }, ntarray_file);
  EXPECT_EQ(static_cast<char const*>(s), old_data) << "still on its old body";
  EXPECT_STREQ(s, "old");
  EXPECT_EQ(s._imp->count.value(), 1);

  expect_out_of_memory([&] { str made; }, ntarray_file);
  expect_out_of_memory([&] { str made("abc"); }, ntarray_file);
  expect_out_of_memory([&] { str made("abc", 2u); }, ntarray_file);
  expect_out_of_memory([&] { str made("ab", "cd"); }, ntarray_file);
  expect_out_of_memory([&] { str made("ab", 2u, "cd", 2u); }, ntarray_file);
  expect_out_of_memory([&] { str made = s + t; }, ntarray_file);
  expect_out_of_memory([&] { str made = s + "x"; }, ntarray_file);
  expect_out_of_memory([&] { str made = s + 'x'; }, ntarray_file);
  expect_out_of_memory([&] { str made = s - 1; }, ntarray_file);
  expect_out_of_memory([&] { str made = s.substring(1, 1); }, ntarray_file);

  uni w(reinterpret_cast<unsigned short const*>(u"wide"));
  expect_out_of_memory([&] { w += static_cast<unsigned short>('x'); }, ntarray_file);
  EXPECT_EQ(w.length(), 4u);

  // The next allocation succeeds again.
  s += 'x';
  EXPECT_STREQ(s, "oldx");
}

TEST(StringsAllocation, ConversionsRaiseNotEnoughMemory) {
  uni const w(reinterpret_cast<unsigned short const*>(u"caf\u00E9"));
  str const n("caf\xC3\xA9");
  expect_out_of_memory([&] { qmgl_uni_to_qmgl_str(w); }, ntarray_file);
  expect_out_of_memory([&] { qmgl_str_to_qmgl_uni(n); }, ntarray_file);
  EXPECT_EQ(qmgl_str_to_qmgl_uni(n), static_cast<unsigned short const*>(w));
  EXPECT_EQ(qmgl_uni_to_qmgl_str(w), static_cast<char const*>(n));
}

TEST(StringsAllocation, EveryNewTextIsOneAllocation) {
  str const s("some text");
  qmgl_small_blocks_keep_on_this_thread(false);
  auto allocations = [](auto f) {
    int const before = nothrow_allocations;
    f();
    return nothrow_allocations - before;
  };
  EXPECT_EQ(allocations([] { str made; }), 1);
  EXPECT_EQ(allocations([] { str made("abc"); }), 1);
  EXPECT_EQ(allocations([&] { str made = s + s; }), 1);
  EXPECT_EQ(allocations([&] { str made = s + '!'; }), 1);
  EXPECT_EQ(allocations([&] { str made = s.substring(2, 3); }), 1);
  EXPECT_EQ(allocations([&] { str copy = s; }), 0);
  EXPECT_EQ(allocations([&] { uni made = qmgl_str_to_qmgl_uni(s); }), 1);
  EXPECT_EQ(allocations([&] { qmgl_uni_to_qmgl_str(qmgl_str_to_qmgl_uni(s)); }), 2);
}

}  // namespace
