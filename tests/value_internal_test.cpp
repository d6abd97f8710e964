// The reader's markers, and the allocations of values. This program holds the library itself
// (from the static archive), so the allocation functions replaced here serve the library's own
// allocations as well: they count them, and fail one when a test arms them, on the arming
// thread only. Every form that can free what they allocate is replaced with them.

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <typeindex>
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

// The allocations that call makes. The thread keeps no free blocks of its own
// (qmgl_small_blocks.h), so that every allocation reaches the functions above.
long allocations_of(std::function<void()> const& call) {
  qmgl_small_blocks_keep_on_this_thread(false);
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
  qmgl_small_blocks_keep_on_this_thread(false);
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

// v.assign over the arguments that follow.
void assign_from(qmgl_value* v, ...) {
  va_list args;
  va_start(args, v);
  try {
    v->assign(args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

constexpr char value_file[] = "src/qmgl/qmgl_value";
constexpr char block_file[] = "src/qmgl/qmgl_local";
constexpr char string_file[] = "src/qmgl/qmgl_ntarray";
constexpr char bytes_file[] = "src/qmgl/qmgl_refcounted_vector";

TEST(ValueInternal, MarkersAreSharedNullBodies) {
  qmgl_value const eoi = qmgl_value_eoi();
  qmgl_value const eol = qmgl_value_eol();
  EXPECT_EQ(eoi._body->type_code(), 1u);
  EXPECT_EQ(eol._body->type_code(), 2u);
  EXPECT_TRUE(eoi.is_null());
  EXPECT_TRUE(eol.is_null());
  EXPECT_TRUE(eoi.is_eoi());
  EXPECT_FALSE(eol.is_eoi());
  EXPECT_TRUE(eol._body->is_eol());
  EXPECT_FALSE(eoi._body->is_eol());
  EXPECT_FALSE(qmgl_value()._body->is_eol());
  for (qmgl_value const* v : {&eoi, &eol})
    EXPECT_FALSE(v->is_bool3() || v->is_int() || v->is_str() || v->is_uni() || v->is_bin() ||
                 v->is_value_array());

  EXPECT_EQ(qmgl_value_eoi()._body, eoi._body);
  EXPECT_EQ(qmgl_value(eol)._body, eol._body);
  EXPECT_TRUE(eoi.is_same_type(qmgl_value_eoi()));
  EXPECT_FALSE(eoi.is_same_type(qmgl_value()));
  EXPECT_FALSE(qmgl_value().is_same_type(eoi));
  EXPECT_FALSE(eoi.is_same_type(eol));

  qmgl_value_base* const body = eoi._body;
  raised const r = raise_of([body] { delete body; });
  EXPECT_EQ(r.type, typeid(exc_should_not_execute_t));
  EXPECT_TRUE(qmgl_value_eoi().is_eoi());
}

TEST(ValueInternal, MarkersCompareUnknownAndWriteTheirTexts) {
  qmgl_value const eoi = qmgl_value_eoi();
  qmgl_value const eol = qmgl_value_eol();
  qmgl_bool3 const unknown(qmgl_bool3_unknown);
  EXPECT_EQ(eoi == qmgl_value(5), unknown);
  EXPECT_EQ(qmgl_value(5) >= eol, unknown);
  EXPECT_EQ(eoi == eoi, unknown);
  EXPECT_EQ(eol < qmgl_value("s"), unknown);
  EXPECT_EQ(array_of({eoi, 1}) == array_of({2, 1}), qmgl_bool3(qmgl_bool3_true));

  // Same-type comparison is never asked of a marker.
  EXPECT_EQ(raise_of([&] { eoi._body->is_equal(*eoi._body); }).type,
            typeid(exc_should_not_execute_t));
  EXPECT_EQ(raise_of([&] { eol._body->is_less(*eol._body); }).type,
            typeid(exc_should_not_execute_t));

  EXPECT_EQ(text_of(eoi), "-1  ");
  EXPECT_EQ(text_of(eol), std::string(1, '\0'));
  EXPECT_EQ(eoi.output_length(), 1u);
  EXPECT_EQ(eol.output_length(), 1u);
  EXPECT_EQ(text_of(array_of({eoi, eol})), std::string("(-1  , \0)  ", 11));
  EXPECT_EQ(array_of({eoi, eol}).output_length(), 6u);
}

TEST(ValueInternal, MarkersRefuseAccessAndAssign) {
  qmgl_value eoi = qmgl_value_eoi();
  qmgl_value eol = qmgl_value_eol();
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

  for (qmgl_value* v : {&eoi, &eol}) {
    raised const r = raise_of([v] { assign_from(v, 1); });
    EXPECT_EQ(r.type, typeid(exc_invariant_failed_t));
    EXPECT_STREQ(r.file, value_file);
  }
  eoi += qmgl_value(1);
  EXPECT_EQ(text_of(eoi), "(-1  , 1  )  ");
}

TEST(ValueInternal, SharedValuesCostNoAllocation) {
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
}

TEST(ValueInternal, AppendingGrowsTheBlockGeometrically) {
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

TEST(ValueInternal, FailedAssignmentsKeepTheOldBody) {
  qmgl_value const text("abc");
  qmgl_value const array = array_of({1, "x"});
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

  using files = std::vector<std::string>;
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [](qmgl_value& v) { v = 7; }, unchanged),
            files({value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [](qmgl_value& v) { v = "text"; }, unchanged),
            files({string_file, value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [&](qmgl_value& v) { v = text; }, unchanged),
            files({value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [&](qmgl_value& v) { v = array; }, unchanged),
            files({value_file, block_file, value_file, value_file}));
  qmgl_refcounted_vector_of<unsigned char> const two_bytes = bytes_of({1, 2});
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [&](qmgl_value& v) { v = two_bytes; }, unchanged),
            files({value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [&](qmgl_value& v) { v += text; }, unchanged),
            files({value_file, value_file, block_file, value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value>(
                make_int, [&](qmgl_value& v) { v += v; }, unchanged),
            files({value_file, value_file, block_file, value_file}));
}

TEST(ValueInternal, FailedArrayChangesKeepTheArray) {
  std::function<qmgl_value_array()> const make_four = [] { return array_list({1, 2, 3, 4}); };
  std::function<void(qmgl_value_array const&)> const unchanged = [](qmgl_value_array const& a) {
    EXPECT_EQ(text_of(a), "(1  , 2  , 3  , 4  ) ");
  };
  using files = std::vector<std::string>;
  qmgl_value const two = array_of({5, "six"});
  EXPECT_EQ(fail_each_allocation<qmgl_value_array>(
                make_four, [&](qmgl_value_array& a) { a += two; }, unchanged),
            files({block_file, value_file, value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value_array>(
                make_four, [](qmgl_value_array& a) { a += a; }, unchanged),
            files({block_file, value_file, value_file, value_file, value_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value_array>(
                make_four, [](qmgl_value_array& a) { a += a[3]; }, unchanged),
            files({value_file, block_file}));
  EXPECT_EQ(fail_each_allocation<qmgl_value_array>(
                make_four, [](qmgl_value_array& a) { a -= qmgl_value_array(a); }, unchanged),
            files({block_file, value_file, value_file, value_file, value_file, block_file}));
  qmgl_value_array const seven = array_list({7});
  EXPECT_EQ(fail_each_allocation<qmgl_value_array>(
                make_four, [&](qmgl_value_array& a) { a = seven; }, unchanged),
            files({block_file, value_file}));
}

TEST(ValueInternal, FailedBuildsLeakNothing) {
  using files = std::vector<std::string>;
  std::function<int()> const nothing = [] { return 0; };
  std::function<void(int const&)> const no_check = [](int const&) {};

  unsigned short const list[] = {'a', 0, 'b', 0, 0};
  unsigned short const* p = list;
  // The array's body; per string its text, a value and the copy appended; the block once.
  EXPECT_EQ(fail_each_allocation<int>(
                nothing, [&](int&) { qmgl_value v(&p); }, no_check),
            files({value_file, string_file, value_file, value_file, block_file, string_file,
                   value_file, value_file}));

  qmgl_value const unis = array_of({qmgl_value(wide(u"a")), qmgl_value(wide(u"b"))});
  EXPECT_EQ(fail_each_allocation<int>(
                nothing, [&](int&) { unis.as_bytes(); }, no_check),
            files({bytes_file}));
  unsigned char const raw[] = {1, 2};
  EXPECT_EQ(
      fail_each_allocation<int>(
          nothing, [&](int&) { qmgl_value v(qmgl_refcounted_vector_of<unsigned char>(raw, 2)); },
          no_check),
      files({bytes_file, value_file}));
  EXPECT_EQ(fail_each_allocation<int>(
                nothing, [](int&) { qmgl_refcounted_vector_of<unsigned char> none; }, no_check),
            files({bytes_file}));
}

}  // namespace
