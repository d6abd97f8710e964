#include <cstdint>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "support/raised.h"
#include "support/trace_capture.h"

namespace {

constexpr char raiser[] = "src/test/raiser";

// The library codes and the classes that carry them, written out from the documented table.
#define DOCUMENTED_CODE_TABLE(X)               \
  X(0x20000000, exc_invalid_parameter_t)       \
  X(0x20000001, exc_not_enough_memory_t)       \
  X(0x20000002, exc_timeout_t)                 \
  X(0x20030000, exc_assertion_failed_t)        \
  X(0x20030001, exc_precondition_failed_t)     \
  X(0x20030002, exc_postcondition_failed_t)    \
  X(0x20030003, exc_invariant_failed_t)        \
  X(0x20030004, exc_should_not_execute_t)      \
  X(0x20030005, exc_not_implemented_t)         \
  X(0x20030006, exc_out_of_range_t)            \
  X(0x20030007, exc_range_underflow_t)         \
  X(0x20030008, exc_range_overflow_t)          \
  X(0x20030009, exc_invalid_parameter_type_t)  \
  X(0x2003000A, exc_domain_underflow_t)        \
  X(0x2003000B, exc_unexpected_end_of_input_t) \
  X(0x2003000C, exc_domain_overflow_t)         \
  X(0x2003000D, exc_invalid_handle_t)          \
  X(0x2003000E, exc_invalid_address_t)         \
  X(0x2003000F, exc_invalid_name_t)            \
  X(0x20030010, exc_invalid_token_t)           \
  X(0x20030011, exc_invalid_grammar_t)         \
  X(0x20030012, exc_invalid_state_t)           \
  X(0x20030013, exc_state_underflow_t)         \
  X(0x20030014, exc_state_overflow_t)          \
  X(0x20030015, exc_invalid_cast_t)            \
  X(0x20030016, exc_invalid_operation_t)       \
  X(0x20030017, exc_invalid_protocol_t)        \
  X(0x20030018, exc_hardware_error_t)          \
  X(0x2003001B, exc_not_enough_disk_t)         \
  X(0x2003001C, exc_not_enough_handles_t)      \
  X(0x2003001D, exc_interrupt_t)               \
  X(0x2003001E, exc_object_busy_t)             \
  X(0x2003001F, exc_would_deadlock_t)          \
  X(0x20030020, exc_owner_died_t)              \
  X(0x20030021, exc_already_exists_t)          \
  X(0x20030022, exc_does_not_exist_t)          \
  X(0x20030023, exc_end_of_input_t)            \
  X(0x20030024, exc_permission_denied_t)       \
  X(0x20030025, exc_unexpected_t)

// A code for which no system has a text.
constexpr unsigned long unknown_code = 0xFFFFFFFFul;

template <class E>
bool qmgl_error_is_caught_as(std::uint32_t code) {
  try {
    exc_t::throw_qmgl_error(raiser, 1, code, "m");
  } catch (E const&) {
    return true;
  } catch (...) {
  }
  return false;
}

// throw_qmgl_error with code raises E itself, made with its fixed code and the given message.
template <class E>
void expect_selects(std::uint32_t code, char const* class_name) {
  SCOPED_TRACE(class_name);
  raised const r = raise_of([&] { exc_t::throw_qmgl_error(raiser, 21, code, "why"); });
  EXPECT_EQ(r.type, typeid(E));
  EXPECT_EQ(r.code, code);
  EXPECT_EQ(r.file, raiser);
  EXPECT_EQ(r.line, 21);
  EXPECT_EQ(r.message, "why");
  EXPECT_TRUE(qmgl_error_is_caught_as<E>(code));
}

}  // namespace

TEST(ErrorRaising, CodeZeroRaisesNothing) {
  EXPECT_NO_THROW(exc_t::throw_w32_error(raiser, 1, 0));
  EXPECT_NO_THROW(exc_t::throw_w32_error(raiser, 1, 0, "text"));
  EXPECT_NO_THROW(exc_t::throw_w32_error(raiser, 1, 0, nullptr));
  EXPECT_NO_THROW(exc_t::throw_tcpip_error(raiser, 1, 0));
  EXPECT_NO_THROW(exc_t::throw_qmgl_error(raiser, 1, 0, "msg"));
  EXPECT_NO_THROW(exc_t::throw_qmpl_error(raiser, 1, 0));
  EXPECT_NO_THROW(exc_t::throw_qmgs_error(raiser, 1, 0));
  if constexpr (sizeof(unsigned long) > 4) {
    // Only the low 32 bits are the code: these are code 0 and code 0x20030022.
    unsigned long const high_bits_only = static_cast<unsigned long>(0x100000000ull);
    EXPECT_NO_THROW(exc_t::throw_w32_error(raiser, 1, high_bits_only));
    EXPECT_NO_THROW(exc_t::throw_qmgl_error(raiser, 1, high_bits_only, "msg"));
    unsigned long const wide = static_cast<unsigned long>(0x120030022ull);
    raised const r = raise_of([&] { exc_t::throw_qmgl_error(raiser, 1, wide, "msg"); });
    EXPECT_EQ(r.type, typeid(exc_does_not_exist_t));
    EXPECT_EQ(r.code, 0x20030022u);
  }
}

TEST(ErrorRaising, SystemErrorIsUnmappedWithTheSystemsNumberAndText) {
  std::string const text = system_text(2);
  ASSERT_FALSE(text.empty()) << "the system has a text for error 2";

  raised const r = raise_of([] { exc_t::throw_w32_error(raiser, 42, 2); });
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, 2u);
  EXPECT_EQ(r.file, raiser);
  EXPECT_EQ(r.line, 42);
  EXPECT_EQ(r.message, text);

  // System errors are not sorted into the tree's classes.
  bool caught_as_missing = false;
  bool caught_as_unmapped = false;
  try {
    try {
      exc_t::throw_w32_error(raiser, 43, 2);
    } catch (exc_does_not_exist_t const&) {
      caught_as_missing = true;
    }
  } catch (exc_unmapped_t const& e) {
    caught_as_unmapped = e.code == 2;
  }
  EXPECT_FALSE(caught_as_missing);
  EXPECT_TRUE(caught_as_unmapped);

  // Socket errors take their texts from the same table.
  std::string const refused = system_text(10061);
  ASSERT_FALSE(refused.empty()) << "the system has a text for error 10061";
  raised const s = raise_of([] { exc_t::throw_tcpip_error(raiser, 44, 10061); });
  EXPECT_EQ(s.type, typeid(exc_unmapped_t));
  EXPECT_EQ(s.code, 10061u);
  EXPECT_EQ(s.line, 44);
  EXPECT_EQ(s.message, refused);
}

TEST(ErrorRaising, TextFormPutsTheCallersTextInBracketsAfterTheSystemText) {
  std::string const text = system_text(5);
  ASSERT_FALSE(text.empty());

  raised const r = raise_of([] { exc_t::throw_w32_error(raiser, 7, 5, "opening journal.db"); });
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, 5u);
  // The system's line end, if it has one, stays between its text and the brackets.
  EXPECT_EQ(r.message, text + " ( opening journal.db ) ");

  raised const null_text = raise_of([] { exc_t::throw_w32_error(raiser, 8, 5, nullptr); });
  EXPECT_EQ(null_text.message, text + " (  ) ");
  raised const empty_text = raise_of([] { exc_t::throw_w32_error(raiser, 9, 5, ""); });
  EXPECT_EQ(empty_text.message, text + " (  ) ");
}

TEST(ErrorRaising, CodeWithoutSystemTextHasEmptyTextAndIsNamedByItsNumber) {
  EXPECT_TRUE(error_string(unknown_code).empty());
  EXPECT_TRUE(error_string(0x20030022).empty());

  raised const r = raise_of([] { exc_t::throw_w32_error(raiser, 3, unknown_code); });
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, 0xFFFFFFFFu);
  EXPECT_EQ(r.message, "system error 4294967295");

  EXPECT_EQ(raise_of([] { exc_t::throw_w32_error(raiser, 3, unknown_code, "x"); }).message,
            "system error 4294967295 ( x ) ");
  EXPECT_EQ(raise_of([] { exc_t::throw_w32_error(raiser, 3, unknown_code, nullptr); }).message,
            "system error 4294967295 (  ) ");

  raised const library_code = raise_of([] { exc_t::throw_tcpip_error(raiser, 3, 0x20030022); });
  EXPECT_EQ(library_code.type, typeid(exc_unmapped_t));
  EXPECT_EQ(library_code.code, 0x20030022u);
  EXPECT_EQ(library_code.message, "system error 537067554");
}

TEST(ErrorRaising, StoredMessageIsCutAt159WhileTheTraceTextKeepsItWhole) {
  std::string const caller_text(200, 'c');
  std::string const whole = system_text(2) + " ( " + caller_text + " ) ";

  trace_capture capture(0x40);
  raised const r = raise_of([&] { exc_t::throw_w32_error(raiser, 11, 2, caller_text.c_str()); });
  EXPECT_EQ(r.message, whole.substr(0, 159));

  auto const records = capture.take();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].data, whole + "\nfile: src/test/raiser; line: 11; error: 0x2 = 2");
}

TEST(ErrorRaising, LibraryCodesRaiseTheClassThatCarriesThem) {
  std::set<std::uint32_t> mapped;
#define EXPECT_SELECTS(table_code, name)   \
  expect_selects<name>(table_code, #name); \
  mapped.insert(table_code);
  DOCUMENTED_CODE_TABLE(EXPECT_SELECTS)
#undef EXPECT_SELECTS
  ASSERT_EQ(mapped.size(), 39u);

  // Every other code, inside the library's ranges and outside them, is unmapped and keeps
  // its number and the caller's message.
  std::vector<std::uint32_t> unmapped = {5,          0x20000003, 0x20000004, 0x20030026,
                                         0x2003FFFF, 0x20020000, 0xFFFFFFFF};
  for (std::uint32_t code = 0x20030000; code <= 0x20030025; ++code)
    if (mapped.count(code) == 0) unmapped.push_back(code);
  ASSERT_EQ(unmapped.size(), 7u + 2u) << "0x20030019 and 0x2003001A carry no class";
  for (std::uint32_t code : unmapped) {
    SCOPED_TRACE(code);
    raised const r = raise_of([&] { exc_t::throw_qmgl_error(raiser, 22, code, "why"); });
    EXPECT_EQ(r.type, typeid(exc_unmapped_t));
    EXPECT_EQ(r.code, code);
    EXPECT_EQ(r.line, 22);
    EXPECT_EQ(r.message, "why");
  }
}

TEST(ErrorRaising, OtherComponentsCodesAreUnmappedWithFixedMessages) {
  raised const qmpl = raise_of([] { exc_t::throw_qmpl_error(raiser, 31, 0x20030022); });
  EXPECT_EQ(qmpl.type, typeid(exc_unmapped_t));
  EXPECT_EQ(qmpl.code, 0x20030022u);
  EXPECT_EQ(qmpl.line, 31);
  EXPECT_EQ(qmpl.message, "unmapped QMPL error");

  raised const qmgs = raise_of([] { exc_t::throw_qmgs_error(raiser, 32, 7); });
  EXPECT_EQ(qmgs.type, typeid(exc_unmapped_t));
  EXPECT_EQ(qmgs.code, 7u);
  EXPECT_EQ(qmgs.file, raiser);
  EXPECT_EQ(qmgs.message, "unmapped ZR_GS error");
}

TEST(ErrorRaising, ErrorStringIsTheSystemTextWithItsLineEnd) {
  auto const text = error_string(2);
  ASSERT_GE(text.size(), 2u);
  EXPECT_LE(text.size(), 259u);
  // System texts end in a line end, on every platform.
  EXPECT_EQ(text[text.size() - 2], u'\r');
  EXPECT_EQ(text.back(), u'\n');
}
