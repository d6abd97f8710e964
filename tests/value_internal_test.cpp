// The reader's markers, and the allocations of values. This program holds the library itself
// (from the static archive), so the allocation functions replaced here serve the library's own
// allocations as well: they count them, and fail one when a test arms them, on the arming
// thread only. Every form that can free what they allocate is replaced with them.

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_small_blocks.h>
#include <wygl/qmgl_value.h>

#include "qmgl/qmgl_value_internal.h"
#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/value_helpers.h"

namespace {

thread_local long allocations = 0;
thread_local int failure_armed = -1;  // -1: none; n >= 0: fail after n more successes

void* allocate(std::size_t size) {
  ++allocations;
  if (failure_armed == 0) {
    failure_armed = -1;
    throw std::bad_alloc();
  }
  if (failure_armed > 0) --failure_armed;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept {
  try {
    return allocate(size);
  } catch (std::bad_alloc const&) {
    return nullptr;
  }
}
// Optimising compilers see the free here meet blocks from operator new once both are inlined
// into one caller; in this program both sides are malloc and free.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, std::nothrow_t const&) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::nothrow_t const&) noexcept {
  std::free(block);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

// Runs change on a copy of start with its first allocation failing, then its second, and so on
// until change succeeds; each failure must raise exc_not_enough_memory_t and leave the value as
// it was. Returns the file named by each failure, in allocation order.
std::vector<std::string> fail_each_allocation(qmgl_value const& start,
                                              std::function<void(qmgl_value&)> const& change) {
  std::vector<std::string> files;
  // The thread keeps no free blocks of its own (qmgl_small_blocks.h), so that every
  // allocation reaches the functions above.
  qmgl_small_blocks_keep_on_this_thread(false);
  for (int n = 0; n < 100; ++n) {
    qmgl_value v = start;
    qmgl_value_base* const body = v._body;
    failure_armed = n;
    raised const r = raise_of([&] { change(v); });
    bool const reached = failure_armed == -1;
    failure_armed = -1;
    EXPECT_EQ(reached, r.thrown) << "an allocation failed without a report, or the reverse";
    if (!r.thrown) return files;
    EXPECT_EQ(r.type, typeid(exc_not_enough_memory_t));
    EXPECT_EQ(r.message, "not enough memory");
    files.push_back(r.file);
    EXPECT_EQ(v._body, body);
    EXPECT_EQ(text_of(v), text_of(start));
  }
  ADD_FAILURE() << "the change never succeeded";
  return files;
}

constexpr char value_file[] = "src/qmgl/qmgl_value";
constexpr char block_file[] = "src/qmgl/qmgl_local";
constexpr char string_file[] = "src/qmgl/qmgl_ntarray";
constexpr char bytes_file[] = "src/qmgl/qmgl_refcounted_vector";

TEST(ValueInternal, MarkersAreSharedNullBodiesWithTextsOfTheirOwn) {
  qmgl_value eoi = qmgl_value_eoi();
  qmgl_value const eol = qmgl_value_eol();
  EXPECT_EQ(eoi._body->type_code(), 1u);
  EXPECT_EQ(eol._body->type_code(), 2u);
  EXPECT_TRUE(eoi.is_null() && eoi.is_eoi() && !eoi._body->is_eol());
  EXPECT_TRUE(eol.is_null() && !eol.is_eoi() && eol._body->is_eol());
  EXPECT_FALSE(eoi.is_same_type(qmgl_value()));
  EXPECT_EQ(qmgl_value(eol)._body, qmgl_value_eol()._body);
  qmgl_value_base* const body = eoi._body;
  // Comparisons with a marker are unknown; the same-type ones are never asked of it.
  EXPECT_EQ(eoi == eoi, qmgl_bool3(qmgl_bool3_unknown));
  for (raised const& r :
       {raise_of([body] { delete body; }), raise_of([&] { eoi._body->is_equal(*eoi._body); }),
        raise_of([&] { eol._body->is_less(*eol._body); })})
    EXPECT_EQ(r.type, typeid(exc_should_not_execute_t));
  EXPECT_EQ(text_of(array_of({eoi, eol})), std::string("(-1  , \0)  ", 11));
  EXPECT_EQ(eoi.output_length() + eol.output_length(), 2u);
  trace_capture capture(0x10000);
  EXPECT_FALSE(eol.as_bool());
  EXPECT_EQ(capture.take().at(0).data, "object type is EOL not BOOL");
  eoi += qmgl_value(1);
  EXPECT_EQ(text_of(eoi), "(-1  , 1  )  ");
}

TEST(ValueInternal, ArraysGrowGeometrically) {
  qmgl_value_array a;
  qmgl_small_blocks_keep_on_this_thread(false);
  long const before = allocations;
  for (int i = 0; i < 100000; ++i)
    a += qmgl_value(true);
  EXPECT_EQ(a.get_size(), 100000u);
  EXPECT_LE(allocations - before, 20) << "one block per doubling";
  EXPECT_GE(allocations - before, 10);
}

TEST(ValueInternal, FailedAllocationsKeepTheValueAndLeakNothing) {
  qmgl_value const five(5);
  qmgl_value const four = array_of({1, 2, 3, 4});
  qmgl_value_array const seven = array_list({7});
  qmgl_value const unis = array_of({qmgl_value(wide(u"a")), qmgl_value(wide(u"b"))});
  unsigned short const list[] = {'a', 0, 'b', 0, 0};
  unsigned short const* p = list;
  unsigned char const raw[] = {1, 2};
  struct change {
    qmgl_value const& start;
    std::function<void(qmgl_value&)> call;
    std::vector<std::string> failing;  // the file each failure names, in allocation order
  };
  std::vector<change> const table = {
      {five, [](qmgl_value& v) { v = 7; }, {value_file}},
      {five, [](qmgl_value& v) { v = "text"; }, {string_file, value_file}},
      {five,
       [&](qmgl_value& v) { v = qmgl_refcounted_vector_of<unsigned char>(raw, 2); },
       {bytes_file, value_file}},
      {five, [](qmgl_value& v) { v += v; }, {value_file, value_file, block_file, value_file}},
      // The array's body; per string its text, a value and the copy appended; the block once.
      {five,
       [&](qmgl_value& v) { v = qmgl_value(&p); },
       {value_file, string_file, value_file, value_file, block_file, string_file, value_file,
        value_file}},
      {five, [&](qmgl_value&) { unis.as_bytes(); }, {bytes_file}},
      {five, [](qmgl_value&) { qmgl_refcounted_vector_of<unsigned char> none; }, {bytes_file}},
      {four,
       [](qmgl_value& v) { v += v; },
       {block_file, value_file, value_file, value_file, value_file}},
      {four, [](qmgl_value& v) { v += v.as_value_array()[3]; }, {value_file, block_file}},
      {four,
       [](qmgl_value& v) { v -= qmgl_value(v); },
       {value_file, block_file, value_file, value_file, value_file, value_file, block_file}},
      {four, [&](qmgl_value& v) { v = seven; }, {value_file, block_file, value_file}},
  };
  for (change const& c : table)
    EXPECT_EQ(fail_each_allocation(c.start, c.call), c.failing) << text_of(c.start);
}

}  // namespace
