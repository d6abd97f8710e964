// The exception tree, the records and the print of a construction, writing an exception on a
// stream, and raising exceptions from error codes.

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_output.h>

#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

constexpr std::uint32_t constructed = 0x061E0000;
constexpr std::uint32_t destroyed = 0x061F0000;
constexpr std::uint32_t exception_created = 0x06070000;
constexpr std::uint32_t exc_lifetime = 0x14010000;
constexpr std::uint32_t exc_created = 0x14010100;
constexpr char raiser[] = "src/test/raiser";

// The documented tree, written out independently of the library's own list: each class, its
// direct base, its fixed code (0: none) and whether it takes the caller's code.
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

// A public base is what a catch clause for it needs; the constructors are the documented ones.
#define EXPECT_SHAPE(name, base, code, caller)                                                 \
  static_assert(std::is_convertible_v<name*, base*> && !std::is_same_v<name, base>);           \
  static_assert(std::is_constructible_v<name, char const*, int, char const*> == (code != 0));  \
  static_assert(std::is_constructible_v<name, char const*, int, char const*, unsigned long> == \
                caller);
DOCUMENTED_TREE(EXPECT_SHAPE)
#undef EXPECT_SHAPE
static_assert(!std::is_constructible_v<exc_t, char const*, int, char const*, unsigned long> &&
              std::has_virtual_destructor_v<exc_t>);

// A code with bits above the 32 of a code where unsigned long is wider: they do not count.
unsigned long wide_code(std::uint64_t code) {
  return static_cast<unsigned long>(code);
}

// E raised with its fixed code, with the caller's code, and by throw_qmgl_error with its code.
template <class E>
void expect_raises(char const* name, std::uint32_t code) {
  SCOPED_TRACE(name);
  std::vector<std::pair<raised, std::uint32_t>> made;
  if constexpr (std::is_constructible_v<E, char const*, int, char const*>)
    made.push_back({raise_of([] { throw E(raiser, 7, "m"); }), code});
  if constexpr (std::is_constructible_v<E, char const*, int, char const*, unsigned long>)
    made.push_back({raise_of([] { throw E(raiser, 7, "m", wide_code(0x1FFFFFFFF)); }), 0xFFFFFFFF});
  if (code != 0)
    made.push_back(
        {raise_of([&] { exc_t::throw_qmgl_error(raiser, 7, wide_code(code | 0x100000000), "m"); }),
         code});
  for (auto const& [r, expected_code] : made) {
    EXPECT_EQ(r.type, typeid(E));
    EXPECT_EQ(r.code, expected_code);
    EXPECT_EQ(r.file, raiser);
    EXPECT_EQ(r.line, 7);
    EXPECT_EQ(r.message, "m");
  }
}

}  // namespace

TEST(Exceptions, EachClassCarriesItsCodeAndLibraryCodesRaiseTheirClass) {
  int classes = 1;  // exc_t
#define EXPECT_RAISES(name, base, code, caller) \
  expect_raises<name>(#name, code);             \
  ++classes;
  DOCUMENTED_TREE(EXPECT_RAISES)
#undef EXPECT_RAISES
  EXPECT_EQ(classes, 47);
}

TEST(Exceptions, ConstructionWritesTheRecordsOfTheEnabledLevels) {
  std::string const long_message(200, 'x');
  struct {
    char const* file;
    int line;
    char const* message;
    std::uint32_t code;
    std::string text;  // of both construction records: the whole message, not the cut copy
  } const cases[] = {
      {"src/qmgl/qmgl_file", 321, "disk full", 0x2003001B,
       "disk full\nfile: src/qmgl/qmgl_file; line: 321; error: 0x2003001b = 537067547"},
      {"a", -7, "m", 0xFFFFFFFF, "m\nfile: a; line: -7; error: 0xffffffff = -1"},
      {nullptr, 0, nullptr, 0, "\nfile: ; line: 0; error: 0 = 0"},
      {"src/x", 12, long_message.c_str(), 2,
       long_message + "\nfile: src/x; line: 12; error: 0x2 = 2"},
  };
  // Each level writes its own records only; a throw caught by reference is one lifetime.
  for (auto const& c : cases)
    for (std::uint32_t const mask : {0x800u | 0x40u, 0x800u, 0x40u, 0u, ~(0x800u | 0x40u)}) {
      SCOPED_TRACE(c.text + " at " + std::to_string(mask));
      trace_capture capture(mask);
      std::uint64_t address = 0;
      try {
        throw exc_unmapped_t(c.file, c.line, c.message, c.code);
      } catch (exc_t const& e) {
        address = object_word(&e);
        EXPECT_EQ(e.file, c.file);
        EXPECT_EQ(std::string(e.message), std::string(c.message ? c.message : "").substr(0, 159));
        EXPECT_EQ(exc_t::get_current(), nullptr);
      }
      std::vector<captured_record> expected;
      if (mask & 0x800) expected.push_back(text_record(constructed, exc_lifetime, address, c.text));
      if (mask & 0x40)
        expected.push_back(text_record(exception_created, exc_created, std::uint64_t{0}, c.text));
      if (mask & 0x800) expected.push_back(plain_record(destroyed, exc_lifetime, address));
      EXPECT_EQ(capture.take(), expected);
    }
}

TEST(Exceptions, CopiesAndAssignmentsTakeAllFourFieldsAndWriteOnlyDestructions) {
  exc_invalid_name_t const original("src/a", 3, "bad name");
  trace_capture capture(0x800 | 0x40);
  std::vector<captured_record> destructions;
  {
    exc_timeout_t other("src/b", 4, "other");
    capture.take();
    exc_invalid_name_t const copy(original);
    static_cast<exc_t&>(other) = original;
    for (exc_t const* e : {static_cast<exc_t const*>(&copy), static_cast<exc_t const*>(&other)}) {
      EXPECT_EQ(e->code, 0x2003000Fu);
      EXPECT_EQ(e->file, original.file);  // the pointer itself, not a copy of the text
      EXPECT_EQ(e->line, 3);
      EXPECT_STREQ(e->message, "bad name");
      destructions.push_back(plain_record(destroyed, exc_lifetime, e));
    }
  }
  EXPECT_EQ(capture.take(), destructions);
}

TEST(Exceptions, CodesOutsideTheTreeRaiseUnmappedAndCodeZeroRaisesNothing) {
  std::string const not_found = system_text(2), denied = system_text(5);
  std::string const refused = system_text(10061);
  ASSERT_FALSE(not_found.empty() || denied.empty() || refused.empty());
  ASSERT_LE(not_found.size(), 259u);
  EXPECT_EQ(not_found.substr(not_found.size() - 2), "\r\n") << "as the system gives it";
  EXPECT_TRUE(error_string(0xFFFFFFFF).empty() && error_string(0x20030022).empty());
  using raise_function = void (*)(unsigned long);
  struct raise_case {
    raise_function raise;
    std::uint32_t code;
    std::string message;
  };
  std::vector<raise_case> cases = {
      {[](unsigned long code) { exc_t::throw_w32_error(raiser, 7, code); }, 2, not_found},
      {[](unsigned long code) { exc_t::throw_tcpip_error(raiser, 7, code); }, 10061, refused},
      // The system's line end stays between its text and the brackets.
      {[](unsigned long code) { exc_t::throw_w32_error(raiser, 7, code, "opening journal.db"); }, 5,
       denied + " ( opening journal.db ) "},
      {[](unsigned long code) { exc_t::throw_w32_error(raiser, 7, code, nullptr); }, 5,
       denied + " (  ) "},
      {[](unsigned long code) { exc_t::throw_w32_error(raiser, 7, code); }, 0xFFFFFFFF,
       "system error 4294967295"},
      {[](unsigned long code) { exc_t::throw_w32_error(raiser, 7, code, "x"); }, 0xFFFFFFFF,
       "system error 4294967295 ( x ) "},
      {[](unsigned long code) { exc_t::throw_tcpip_error(raiser, 7, code); }, 0x20030022,
       "system error 537067554"},
      {[](unsigned long code) { exc_t::throw_qmpl_error(raiser, 7, code); }, 0x20030022,
       "unmapped QMPL error"},
      {[](unsigned long code) { exc_t::throw_qmgs_error(raiser, 7, code); }, 7,
       "unmapped ZR_GS error"},
  };
  for (std::uint32_t code : {5u, 0x20000003u, 0x20030019u, 0x2003001Au, 0x20030026u, 0xFFFFFFFFu})
    cases.push_back({[](unsigned long given) { exc_t::throw_qmgl_error(raiser, 7, given, "why"); },
                     code, "why"});

  for (raise_case const& c : cases) {
    SCOPED_TRACE(c.message);
    // Only the low 32 bits of a code count where unsigned long is wider.
    for (std::uint64_t const high : {0ull, 0x100000000ull}) {
      EXPECT_NO_THROW(c.raise(static_cast<unsigned long>(high)));
      raised const r = raise_of([&] { c.raise(static_cast<unsigned long>(high | c.code)); });
      EXPECT_EQ(r.type, typeid(exc_unmapped_t));
      EXPECT_EQ(r.code, c.code);
      EXPECT_EQ(r.file, raiser);
      EXPECT_EQ(r.line, 7);
      EXPECT_EQ(r.message, c.message);
    }
  }
}

namespace {

// Read while the test program starts, before any test can change it.
bool const quiet_when_loaded = [] {
  bool const quiet = exc_t::be_quiet(true);
  exc_t::be_quiet(quiet);
  return quiet;
}();

// What the standard error stream handed over at its latest flush.
std::string printed() {
  qmgl_output_file const& out = qmgl_output_file::std_error();
  if (out.get_last_output_buffer() == nullptr) return {};
  return {out.get_last_output_buffer(),
          static_cast<std::size_t>(out.get_last_output_buffer_length())};
}

}  // namespace

TEST(Exceptions, QuietModeAndThePrintOfTheWholeMessage) {
  EXPECT_TRUE(quiet_when_loaded);
  EXPECT_TRUE(exc_t::be_quiet(false));

  exc_timeout_t const timeout("src/t", 1, "abcd");
  EXPECT_EQ(printed(), "abcd\r\n\r\n");
  EXPECT_EQ(qmgl_output_file::std_error().get_output_buffer_length(), 0) << "flushed";
  std::string const long_message(200, 'm');
  exc_unmapped_t copy("src/t", 2, long_message.c_str(), 9);
  EXPECT_EQ(printed(), long_message + "\r\n\r\n") << "the whole text, not the stored copy";
  exc_unmapped_t const nothing("src/t", 3, nullptr, 9);
  EXPECT_EQ(printed(), "\r\n\r\n");

  exc_timeout_t const copied(timeout);
  static_cast<exc_t&>(copy) = timeout;
  EXPECT_FALSE(exc_t::be_quiet(true));
  exc_timeout_t const hidden("src/t", 4, "hidden");
  EXPECT_EQ(printed(), "\r\n\r\n") << "copies, assignments and quiet mode print nothing";
  EXPECT_EQ(qmgl_output_file::std_error().get_output_buffer_length(), 0);
}

TEST(Exceptions, WritesAllFourFieldsOnAStream) {
  auto const written = [](exc_t const& e) {
    qmgl_ntarray_of<char, 0> text;
    qmgl_output_str out(text);
    EXPECT_EQ(&(out << e), &out);
    return std::string(text);
  };
  std::string const long_message(200, 'q');
  EXPECT_EQ(written(exc_unmapped_t("src/x", 12, "m", 7)), "exc 'src/x'  12   7  'm' ");
  EXPECT_EQ(written(exc_does_not_exist_t("src/y", -3, "no such job")),
            "exc 'src/y'  -3   537067554  'no such job' ");
  EXPECT_EQ(written(exc_unmapped_t("src/it's", 1, "don't", 0)),
            "exc 'src/it''s'  1   0  'don''t' ");
  EXPECT_EQ(written(exc_unmapped_t(nullptr, 0, "", 4294967295UL)), "exc ''  0   4294967295  '' ");
  EXPECT_EQ(written(exc_unmapped_t("src/z", 5, long_message.c_str(), 1)),
            "exc 'src/z'  5   1  '" + long_message.substr(0, 159) + "' ");
}
