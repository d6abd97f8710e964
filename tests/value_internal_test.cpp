// The reader's markers, and the allocations of values. This program holds the library itself
// (from the static archive), so the allocation functions replaced here serve the library's own
// allocations as well: they count them, and fail one when a test arms them, on the arming
// thread only. Every form that can free what they allocate is replaced with them.

#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
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

// The allocations that call makes.
long allocations_of(std::function<void()> const& call) {
  long const before = allocations;
  call();
  return allocations - before;
}

// Runs change on a fresh subject with its first allocation failing, then its second, and so
// on until change succeeds. Each failure must raise exc_not_enough_memory_t and leave the
// subject as check expects. Returns the file named by each failure, in allocation order.
template <class Subject>
std::vector<std::string> fail_each_allocation(std::function<Subject()> const& make,
                                              std::function<void(Subject&)> const& change,
                                              std::function<void(Subject const&)> const& check) {
  std::vector<std::string> files;
  for (int n = 0; n < 100; ++n) {
    Subject subject = make();
    char const* file = nullptr;
    bool reported = false;
    failure_armed = n;
    try {
      change(subject);
    } catch (exc_not_enough_memory_t const& e) {
      file = e.file;
      reported = std::strcmp(e.message, "not enough memory") == 0;
    }
    bool const reached = failure_armed == -1;
    failure_armed = -1;
    if (file == nullptr) {
      EXPECT_FALSE(reached) << "an allocation failed without a report";
      return files;
    }
    EXPECT_TRUE(reached);
    EXPECT_TRUE(reported);
    files.push_back(file);
    check(subject);
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
  EXPECT_FALSE(qmgl_value()._body->is_eol() || eoi.is_same_type(qmgl_value()));
  EXPECT_EQ(qmgl_value(eol)._body, qmgl_value_eol()._body);
  qmgl_value_base* const body = eoi._body;
  EXPECT_EQ(raise_of([body] { delete body; }).type, typeid(exc_should_not_execute_t));
  EXPECT_TRUE(qmgl_value_eoi().is_eoi());

  // Comparisons with a marker are unknown; the same-type ones are never asked of it.
  EXPECT_EQ(eoi == eoi, qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_EQ(qmgl_value(5) >= eol, qmgl_bool3(qmgl_bool3_unknown));
  EXPECT_EQ(raise_of([&] { eoi._body->is_equal(*eoi._body); }).type,
            typeid(exc_should_not_execute_t));
  EXPECT_EQ(raise_of([&] { eol._body->is_less(*eol._body); }).type,
            typeid(exc_should_not_execute_t));

  EXPECT_EQ(text_of(array_of({eoi, eol})), std::string("(-1  , \0)  ", 11));
  EXPECT_EQ(eoi.output_length(), 1u);
  EXPECT_EQ(eol.output_length(), 1u);

  trace_capture capture(0x10000);
  EXPECT_FALSE(eol.as_bool());
  EXPECT_EQ(raise_of([&] { eoi.as_int(); }).type, typeid(exc_invalid_cast_t));
  EXPECT_EQ(capture.take(),
            (std::vector<captured_record>{
                text_record(0x062A0000, 0x141F0100, eol._body, "object type is EOL not BOOL"),
                value_record(0x062B0000, 0x141F0100, eol._body, 0),
                text_record(0x062A0000, 0x141F0300, eoi._body, "object type is EOI not INT"),
                value_record(0x062B0000, 0x141F0300, eoi._body, 0),
            }));
  eoi += qmgl_value(1);
  EXPECT_EQ(text_of(eoi), "(-1  , 1  )  ");
}

TEST(ValueInternal, SharedValuesCostNoAllocationAndArraysGrowGeometrically) {
  EXPECT_EQ(allocations_of([] {
              qmgl_value const values[] = {qmgl_value(),
                                           qmgl_value(true),
                                           qmgl_value(false),
                                           qmgl_value(qmgl_bool3_unknown),
                                           qmgl_value(qmgl_bool3(true)),
                                           qmgl_value_eoi(),
                                           qmgl_value_eol()};
              for (qmgl_value const& v : values) {
                qmgl_value copy(v);
                copy = v;
                copy = true;
                copy = qmgl_bool3_false;
              }
            }),
            0);
  qmgl_value const s("text");
  EXPECT_EQ(allocations_of([&] { qmgl_value copy(s); }), 1) << "a body; the text is shared";
  qmgl_value const ints = array_of({1, 2, 3});
  EXPECT_EQ(allocations_of([&] { qmgl_value copy(ints); }), 5) << "body, block, three elements";

  qmgl_value_array a;
  qmgl_value const element(true);
  long const made = allocations_of([&] {
    for (int i = 0; i < 100000; ++i)
      a += element;
  });
  EXPECT_EQ(a.get_size(), 100000u);
  EXPECT_LE(made, 20) << "one block per doubling";
  EXPECT_GE(made, 10);
}

using files = std::vector<std::string>;

TEST(ValueInternal, FailedAllocationsKeepTheValueAndLeakNothing) {
  qmgl_value const text("abc");
  qmgl_value const array = array_of({1, "x"});
  qmgl_value const unis = array_of({qmgl_value(wide(u"a")), qmgl_value(wide(u"b"))});
  unsigned short const list[] = {'a', 0, 'b', 0, 0};
  unsigned short const* p = list;
  unsigned char const raw[] = {1, 2};
  qmgl_value_base* body = nullptr;
  std::function<qmgl_value()> const make_int = [&body] {
    qmgl_value v(5);
    body = v._body;
    return v;
  };
  std::function<void(qmgl_value const&)> const unchanged = [&body](qmgl_value const& v) {
    EXPECT_EQ(v._body, body);
    EXPECT_EQ(v.as_int(), 5);
  };
  struct change {
    std::function<void(qmgl_value&)> call;
    files failing;  // the file each failure names, in allocation order
  };
  std::vector<change> const table = {
      {[](qmgl_value& v) { v = 7; }, {value_file}},
      {[](qmgl_value& v) { v = "text"; }, {string_file, value_file}},
      {[&](qmgl_value& v) { v = text; }, {value_file}},
      {[&](qmgl_value& v) { v = array; }, {value_file, block_file, value_file, value_file}},
      {[&](qmgl_value& v) { v = qmgl_refcounted_vector_of<unsigned char>(raw, 2); },
       {bytes_file, value_file}},
      {[&](qmgl_value& v) { v += text; }, {value_file, value_file, block_file, value_file}},
      {[](qmgl_value& v) { v += v; }, {value_file, value_file, block_file, value_file}},
      // The array's body; per string its text, a value and the copy appended; the block once.
      {[&](qmgl_value& v) { v = qmgl_value(&p); },
       {value_file, string_file, value_file, value_file, block_file, string_file, value_file,
        value_file}},
      {[&](qmgl_value&) { unis.as_bytes(); }, {bytes_file}},
      {[](qmgl_value&) { qmgl_refcounted_vector_of<unsigned char> none; }, {bytes_file}},
  };
  for (std::size_t i = 0; i < table.size(); ++i)
    EXPECT_EQ(fail_each_allocation<qmgl_value>(make_int, table[i].call, unchanged),
              table[i].failing)
        << i;
}

TEST(ValueInternal, FailedArrayChangesKeepTheArray) {
  qmgl_value const two = array_of({5, "six"});
  qmgl_value_array const seven = array_list({7});
  std::function<qmgl_value_array()> const make_four = [] { return array_list({1, 2, 3, 4}); };
  std::function<void(qmgl_value_array const&)> const unchanged = [](qmgl_value_array const& a) {
    EXPECT_EQ(text_of(a), "(1  , 2  , 3  , 4  ) ");
  };
  struct change {
    std::function<void(qmgl_value_array&)> call;
    files failing;
  };
  std::vector<change> const table = {
      {[&](qmgl_value_array& a) { a += two; }, {block_file, value_file, value_file}},
      {[](qmgl_value_array& a) { a += a; },
       {block_file, value_file, value_file, value_file, value_file}},
      {[](qmgl_value_array& a) { a += a[3]; }, {value_file, block_file}},
      {[](qmgl_value_array& a) { a -= qmgl_value_array(a); },
       {block_file, value_file, value_file, value_file, value_file, block_file}},
      {[&](qmgl_value_array& a) { a = seven; }, {block_file, value_file}},
  };
  for (std::size_t i = 0; i < table.size(); ++i)
    EXPECT_EQ(fail_each_allocation<qmgl_value_array>(make_four, table[i].call, unchanged),
              table[i].failing)
        << i;
}

}  // namespace
