#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "support/trace_capture.h"

namespace {

constexpr std::uint32_t constructed = 0x061E0000;
constexpr std::uint32_t destroyed = 0x061F0000;
constexpr std::uint32_t exception_created = 0x06070000;
constexpr std::uint32_t exc_lifetime = 0x14010000;
constexpr std::uint32_t exc_created = 0x14010100;

// The documented tree, written out here independently of the library's own list:
// class, its direct base, its fixed code (0: none), whether it takes the caller's code.
#define DOCUMENTED_TREE(X)                                                    \
  X(exc_runtime_t, exc_t, 0, true)                                            \
  X(exc_not_enough_resources_t, exc_runtime_t, 0, true)                       \
  X(exc_not_enough_memory_t, exc_not_enough_resources_t, 0x20000001, false)   \
  X(exc_not_enough_disk_t, exc_not_enough_resources_t, 0x2003001B, false)     \
  X(exc_not_enough_handles_t, exc_not_enough_resources_t, 0x2003001C, false)  \
  X(exc_timing_t, exc_runtime_t, 0, true)                                     \
  X(exc_timeout_t, exc_timing_t, 0x20000002, false)                           \
  X(exc_interrupt_t, exc_timing_t, 0x2003001D, false)                         \
  X(exc_object_busy_t, exc_timing_t, 0x2003001E, false)                       \
  X(exc_would_deadlock_t, exc_timing_t, 0x2003001F, false)                    \
  X(exc_hardware_error_t, exc_runtime_t, 0x20030018, false)                   \
  X(exc_owner_died_t, exc_runtime_t, 0x20030020, false)                       \
  X(exc_logic_t, exc_t, 0, true)                                              \
  X(exc_assertion_failed_t, exc_logic_t, 0x20030000, true)                    \
  X(exc_precondition_failed_t, exc_assertion_failed_t, 0x20030001, false)     \
  X(exc_postcondition_failed_t, exc_assertion_failed_t, 0x20030002, false)    \
  X(exc_invariant_failed_t, exc_assertion_failed_t, 0x20030003, false)        \
  X(exc_should_not_execute_t, exc_assertion_failed_t, 0x20030004, false)      \
  X(exc_not_implemented_t, exc_assertion_failed_t, 0x20030005, false)         \
  X(exc_out_of_range_t, exc_logic_t, 0x20030006, true)                        \
  X(exc_range_underflow_t, exc_out_of_range_t, 0x20030007, false)             \
  X(exc_range_overflow_t, exc_out_of_range_t, 0x20030008, false)              \
  X(exc_invalid_parameter_t, exc_logic_t, 0x20000000, true)                   \
  X(exc_invalid_parameter_type_t, exc_invalid_parameter_t, 0x20030009, false) \
  X(exc_domain_underflow_t, exc_invalid_parameter_t, 0x2003000A, true)        \
  X(exc_unexpected_end_of_input_t, exc_domain_underflow_t, 0x2003000B, false) \
  X(exc_domain_overflow_t, exc_invalid_parameter_t, 0x2003000C, false)        \
  X(exc_invalid_handle_t, exc_invalid_parameter_t, 0x2003000D, false)         \
  X(exc_invalid_address_t, exc_invalid_parameter_t, 0x2003000E, false)        \
  X(exc_invalid_name_t, exc_invalid_parameter_t, 0x2003000F, false)           \
  X(exc_invalid_state_t, exc_logic_t, 0x20030012, true)                       \
  X(exc_state_underflow_t, exc_invalid_state_t, 0x20030013, false)            \
  X(exc_state_overflow_t, exc_invalid_state_t, 0x20030014, false)             \
  X(exc_invalid_cast_t, exc_logic_t, 0x20030015, false)                       \
  X(exc_invalid_operation_t, exc_logic_t, 0x20030016, false)                  \
  X(exc_invalid_protocol_t, exc_logic_t, 0x20030017, false)                   \
  X(exc_input_t, exc_t, 0, true)                                              \
  X(exc_invalid_token_t, exc_input_t, 0x20030010, false)                      \
  X(exc_invalid_grammar_t, exc_input_t, 0x20030011, false)                    \
  X(exc_maybe_t, exc_t, 0, true)                                              \
  X(exc_already_exists_t, exc_maybe_t, 0x20030021, false)                     \
  X(exc_does_not_exist_t, exc_maybe_t, 0x20030022, false)                     \
  X(exc_end_of_input_t, exc_maybe_t, 0x20030023, false)                       \
  X(exc_permission_denied_t, exc_maybe_t, 0x20030024, false)                  \
  X(exc_unexpected_t, exc_t, 0x20030025, false)                               \
  X(exc_unmapped_t, exc_t, 0, true)

struct tree_class {
  std::string name;
  std::string base;
  std::uint32_t fixed_code;
  bool takes_caller_code;
  bool has_fixed_constructor;
  bool has_caller_constructor;
  // Throws an object of the class: with its fixed code where it has one, else with code 5.
  std::function<void()> raise;
  // True when a catch clause for the class catches what thrower throws.
  std::function<bool(std::function<void()> const&)> catches;
};

template <class E>
bool catches_as(std::function<void()> const& thrower) {
  try {
    thrower();
  } catch (E const&) {
    return true;
  } catch (...) {
    return false;
  }
  return false;
}

template <class E>
tree_class describe(char const* name, char const* base, std::uint32_t fixed_code,
                    bool takes_caller_code) {
  tree_class c{name, base, fixed_code, takes_caller_code, false, false, {}, catches_as<E>};
  c.has_fixed_constructor = std::is_constructible_v<E, char const*, int, char const*>;
  c.has_caller_constructor =
      std::is_constructible_v<E, char const*, int, char const*, unsigned long>;
  c.raise = [] {
    if constexpr (std::is_constructible_v<E, char const*, int, char const*>)
      throw E("src/test", 1, "m");
    else
      throw E("src/test", 1, "m", 5);
  };
  return c;
}

std::vector<tree_class> documented_tree() {
  std::vector<tree_class> tree;
#define DESCRIBE(name, base, code, caller) \
  tree.push_back(describe<name>(#name, #base, code, caller));
  DOCUMENTED_TREE(DESCRIBE)
#undef DESCRIBE
  return tree;
}

// True when `ancestor` is `name` or one of its bases in the documented tree.
bool is_ancestor_or_self(std::vector<tree_class> const& tree, std::string const& ancestor,
                         std::string name) {
  while (true) {
    if (name == ancestor) return true;
    if (name == "exc_t") return false;
    auto it = std::find_if(tree.begin(), tree.end(), [&](auto const& c) { return c.name == name; });
    if (it == tree.end()) return false;
    name = it->base;
  }
}

}  // namespace

TEST(Exceptions, TreeHasFortySevenClassesWithTheirConstructorsAndCodes) {
  auto const tree = documented_tree();
  ASSERT_EQ(tree.size() + 1, 47u);  // and exc_t itself

  // exc_t's constructor is protected: only derived classes construct one.
  EXPECT_FALSE((std::is_constructible_v<exc_t, char const*, int, char const*, unsigned long>));
  EXPECT_TRUE(std::is_copy_constructible_v<exc_t>);
  EXPECT_TRUE(std::has_virtual_destructor_v<exc_t>);

  for (auto const& c : tree) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.has_fixed_constructor, c.fixed_code != 0);
    EXPECT_EQ(c.has_caller_constructor, c.takes_caller_code);
    try {
      c.raise();
      ADD_FAILURE() << "nothing thrown";
    } catch (exc_t const& e) {
      EXPECT_EQ(e.code, c.fixed_code != 0 ? c.fixed_code : 5u);
      EXPECT_STREQ(e.file, "src/test");
      EXPECT_EQ(e.line, 1);
      EXPECT_STREQ(e.message, "m");
    }
  }
}

TEST(Exceptions, EachClassIsCaughtByItsAncestorsAndByNoOtherClass) {
  auto const tree = documented_tree();
  std::vector<tree_class> catchers = tree;
  catchers.push_back(tree_class{"exc_t", "", 0, true, false, false, {}, catches_as<exc_t>});
  for (auto const& thrown : tree) {
    for (auto const& catcher : catchers) {
      bool const expected = is_ancestor_or_self(tree, catcher.name, thrown.name);
      EXPECT_EQ(catcher.catches(thrown.raise), expected)
          << thrown.name << " caught as " << catcher.name;
    }
  }
}

TEST(Exceptions, FourArgumentConstructorsKeepTheCallersCode) {
  EXPECT_EQ(exc_timing_t("f", 1, "m", 5).code, 5u);
  EXPECT_EQ(exc_timeout_t("f", 1, "m").code, 0x20000002u);
  EXPECT_EQ(exc_assertion_failed_t("f", 1, "m").code, 0x20030000u);
  EXPECT_EQ(exc_assertion_failed_t("f", 1, "m", 0x1234).code, 0x1234u);
  EXPECT_EQ(exc_domain_underflow_t("f", 1, "m", 0xFFFFFFFFu).code, 0xFFFFFFFFu);
  EXPECT_EQ(exc_unmapped_t("f", 1, "m", 0).code, 0u);
  if constexpr (sizeof(unsigned long) > 4) {
    // Codes are 32-bit numbers also where unsigned long is wider.
    unsigned long const wide = static_cast<unsigned long>(0x100000005ull);
    EXPECT_EQ(exc_unmapped_t("f", 1, "m", wide).code, 5u);
  }
}

TEST(Exceptions, RuntimeCatchSelectsRuntimeFailuresOnly) {
  auto caught_as_runtime = [](auto raise) { return catches_as<exc_runtime_t>(raise); };
  EXPECT_TRUE(caught_as_runtime([] { throw exc_would_deadlock_t("f", 1, "m"); }));
  EXPECT_TRUE(caught_as_runtime([] { throw exc_owner_died_t("f", 1, "m"); }));
  EXPECT_TRUE(caught_as_runtime([] { throw exc_not_enough_disk_t("f", 1, "m"); }));
  EXPECT_FALSE(caught_as_runtime([] { throw exc_unexpected_end_of_input_t("f", 1, "m"); }));
  EXPECT_FALSE(caught_as_runtime([] { throw exc_end_of_input_t("f", 1, "m"); }));
}

TEST(Exceptions, MessageIsCutTo159CharactersWhileTheTraceTextKeepsItWhole) {
  std::string const long_message(200, 'x');
  std::string const text = long_message + "\nfile: src/x; line: 12; error: 0x20000002 = 536870914";
  trace_capture capture(0x40);
  {
    exc_timeout_t e("src/x", 12, long_message.c_str());
    EXPECT_EQ(std::string(e.message), long_message.substr(0, 159));
    EXPECT_EQ(e.message[159], '\0');
  }
  EXPECT_EQ(capture.take(), std::vector<captured_record>{
                                text_record(exception_created, exc_created, nullptr, text)});

  std::string const exactly_159(159, 'y');
  EXPECT_EQ(std::string(exc_timeout_t("f", 1, exactly_159.c_str()).message), exactly_159);
  std::string const exactly_160(160, 'z');
  EXPECT_EQ(std::string(exc_timeout_t("f", 1, exactly_160.c_str()).message), std::string(159, 'z'));
}

TEST(Exceptions, ConstructionAndDestructionRecords) {
  trace_capture capture(0x800 | 0x40);
  std::uint64_t address = 0;
  {
    exc_not_enough_disk_t e("src/qmgl/qmgl_file", 321, "disk full");
    address = object_word(&e);
  }
  std::string const text =
      "disk full\nfile: src/qmgl/qmgl_file; line: 321; error: 0x2003001b = 537067547";
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                text_record(constructed, exc_lifetime, address, text),
                                text_record(exception_created, exc_created, nullptr, text),
                                plain_record(destroyed, exc_lifetime, address),
                            }));
}

TEST(Exceptions, CodeIsPrintedInHexAndAsSignedDecimal) {
  trace_capture capture(0x40);
  exc_unmapped_t("a", -7, "m", 0xFFFFFFFFu);
  exc_unmapped_t("a", 0, "", 0);
  exc_unmapped_t("a", 2147483647, "m", 0x80000000u);
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].data, "m\nfile: a; line: -7; error: 0xffffffff = -1");
  EXPECT_EQ(records[1].data, "\nfile: a; line: 0; error: 0 = 0");
  EXPECT_EQ(records[2].data, "m\nfile: a; line: 2147483647; error: 0x80000000 = -2147483648");
}

TEST(Exceptions, OnlyTheEnabledLevelsWrite) {
  {
    trace_capture capture(0);
    try {
      throw exc_timeout_t("f", 1, "m");
    } catch (exc_t const&) {
    }
    EXPECT_TRUE(capture.take().empty());
  }
  {
    trace_capture capture(0x800);
    exc_timeout_t("f", 1, "m");
    auto const records = capture.take();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, constructed);
    EXPECT_EQ(records[1].kind, destroyed);
    EXPECT_EQ(records[0].object, records[1].object);
  }
  {
    // Level bits other than 0x800 and 0x40 select nothing here.
    trace_capture capture(~(0x800u | 0x40u));
    exc_timeout_t("f", 1, "m");
    EXPECT_TRUE(capture.take().empty());
  }
}

TEST(Exceptions, CopiesWriteNoConstructionRecordButEachDestructionIsRecorded) {
  exc_invalid_name_t original("src/a", 3, "bad name");
  trace_capture capture(0x800 | 0x40);
  std::uint64_t copy_address = 0;
  {
    exc_invalid_name_t copy(original);
    copy_address = object_word(&copy);
    EXPECT_EQ(copy.code, 0x2003000Fu);
    EXPECT_EQ(copy.file, original.file);  // the pointer itself, not a copy of the text
    EXPECT_EQ(copy.line, 3);
    EXPECT_STREQ(copy.message, "bad name");

    exc_invalid_name_t other("src/b", 4, "other");
    capture.take();
    other = original;
    EXPECT_EQ(other.line, 3);
    EXPECT_STREQ(other.message, "bad name");
    EXPECT_EQ(other.file, original.file);
    EXPECT_TRUE(capture.take().empty()) << "assignment writes nothing";
    static_cast<exc_t&>(other) = exc_timeout_t("src/c", 5, "t");
    EXPECT_EQ(other.code, 0x20000002u);
    capture.take();
  }
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1], plain_record(destroyed, exc_lifetime, copy_address));
}

TEST(Exceptions, ThrowingAndCatchingByReferenceWritesOneLifetime) {
  trace_capture capture(0x800);
  try {
    throw exc_end_of_input_t("src/qmgl/qmgl_input", 9, "exc_end_of_input");
  } catch (exc_maybe_t const& e) {
    EXPECT_EQ(e.code, 0x20030023u);
    EXPECT_EQ(exc_t::get_current(), nullptr);
  }
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, constructed);
  EXPECT_EQ(records[1], plain_record(destroyed, exc_lifetime, records[0].object));
}

TEST(Exceptions, GetCurrentIsAlwaysNull) {
  EXPECT_EQ(exc_t::get_current(), nullptr);
  try {
    throw exc_unexpected_t("f", 1, "m");
  } catch (...) {
    EXPECT_EQ(exc_t::get_current(), nullptr);
  }
}

TEST(Exceptions, NullMessageAndFileAreTakenAsEmpty) {
  trace_capture capture(0x40);
  exc_timeout_t e(nullptr, 8, nullptr);
  EXPECT_STREQ(e.message, "");
  EXPECT_EQ(e.file, nullptr);
  auto const records = capture.take();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data, "\nfile: ; line: 8; error: 0x20000002 = 536870914");
}

TEST(Exceptions, QuietModeIsOnAtLoadAndBeQuietReturnsThePreviousSetting) {
  EXPECT_TRUE(exc_t::be_quiet(false));
  EXPECT_FALSE(exc_t::be_quiet(true));
  EXPECT_TRUE(exc_t::be_quiet(true));
}
