// Client identities: the process's identity and connection numbers, the text form written and
// read back, equality and order.

#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_client_id.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_output.h>

#include "support/child_process.h"
#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/uuid_form.h"

namespace {

using wide = std::basic_string<unsigned short>;

captured_record caught_record(std::uint32_t tracepoint) {
  return text_record(0x06040000, tracepoint, std::uint64_t{0}, "In catch ERROR\n");
}

// A stream that takes room characters, then raises.
struct full_output : qmgl_output_imp {
  explicit full_output(std::size_t limit) : room(limit) {}
  std::string text;
  std::size_t room;

 private:
  void really_put_char(char c) override {
    if (text.size() == room) throw exc_unmapped_t("tests/full_output", 1, "full", 112);
    text += c;
  }
};

// A fresh process: its first connection numbers, the records of making its identity once, and
// its UUID, published in the block of 64 bytes named by args[0]. The exit code tells which
// check failed.
WYGL_CHILD_ROLE(fresh_identity) {
  for (int expected = 1; expected <= 3; ++expected)
    if (qmgl_client_id::getConnectionID() != expected) return expected;
  trace_capture capture(0x8 | 0x10000 | 0x20000);
  std::string const uuid = narrow_ascii(qmgl_client_id::getClientID().get_UUID());
  if (capture.take() !=
      std::vector<captured_record>{plain_record(0x062A0000, 0x14210300, std::uint64_t{0}),
                                   value_record(0x062B0000, 0x14210300, std::uint64_t{0}, 0)})
    return 10;
  qmgl_client_id::getClientID();
  if (!capture.take().empty()) return 11;
  qmgl_mem_shared block(args.at(0).c_str(), 64, qmgl_action_open);
  std::memcpy(block.get_address(), uuid.c_str(), uuid.size() + 1);
  return 0;
}

}  // namespace

TEST(ClientId, EachProcessMakesItsIdentityOnceAndNumbersItsConnectionsFromOne) {
  qmgl_client_id const& mine = qmgl_client_id::getClientID();
  EXPECT_EQ(&mine, &qmgl_client_id::getClientID());
  EXPECT_EQ(mine.get_connection_id(), 0);
  EXPECT_TRUE(has_uuid_form(narrow_ascii(mine.get_UUID())));

  qmgl_ntarray_of<char, 0> const name(unique_object_name("identity").c_str());
  qmgl_mem_shared block(name, 64, qmgl_action_create);
  child_process child("fresh_identity", {static_cast<char const*>(name)});
  ASSERT_EQ(child.wait_for_exit(std::chrono::seconds(60)), 0);
  std::string const theirs(static_cast<char const*>(block.get_address()));
  EXPECT_TRUE(has_uuid_form(theirs)) << theirs;
  EXPECT_NE(theirs, narrow_ascii(mine.get_UUID()));
}

TEST(ClientId, ConcurrentCallersGetDistinctConsecutiveNumbers) {
  constexpr int threads = 4;
  constexpr int per_thread = 2000;
  std::vector<std::vector<int>> taken(threads);
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t)
    callers.emplace_back([&taken, t] {
      for (int i = 0; i < per_thread; ++i)
        taken[t].push_back(qmgl_client_id::getConnectionID());
    });
  for (std::thread& caller : callers)
    caller.join();
  std::set<int> all;
  for (auto const& numbers : taken)
    all.insert(numbers.begin(), numbers.end());
  ASSERT_EQ(all.size(), std::size_t{threads * per_thread}) << "no number given twice";
  EXPECT_GE(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin() - *all.begin(), threads * per_thread - 1) << "none skipped";
}

TEST(ClientId, TextFormIsWrittenReadBackAndWriteFailuresReported) {
  qmgl_client_id mine = qmgl_client_id::getClientID();
  mine.set_connection_id(qmgl_client_id::getConnectionID());
  struct {
    qmgl_client_id id;
    std::string text;
  } const cases[] = {
      {mine, "\"" + narrow_ascii(mine.get_UUID()) + "\"  " +
                 std::to_string(mine.get_connection_id()) + "  "},
      {qmgl_client_id(wide_of("a\"b"), -7), "\"a\"\"b\"  -7  "},
      {qmgl_client_id(), "\"\"  0  "},
      {qmgl_client_id(wide{0x00E9, 0x20AC}, INT_MAX), "\"\xC3\xA9\xE2\x82\xAC\"  2147483647  "},
      {qmgl_client_id(wide_of("x"), INT_MIN), "\"x\"  -2147483648  "},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    // A stream that fails at once, in the UUID, in the number, or not at all.
    for (std::size_t room : {std::size_t{0}, c.text.size() / 2, c.text.size() - 1, c.text.size()}) {
      trace_capture capture(0x8);
      full_output out(room);
      bool const fits = room == c.text.size();
      EXPECT_EQ(c.id.stream_out(out), fits ? 0 : 0x206E0001) << room;
      EXPECT_EQ(out.text, c.text.substr(0, room));
      std::vector<captured_record> reported;
      if (!fits) reported.push_back(caught_record(0x14210200));
      EXPECT_EQ(capture.take(), reported);
    }
    qmgl_input_str in(c.text.c_str());
    EXPECT_TRUE(qmgl_client_id(in) == c.id);
  }
  // Reading takes exactly the two values of an identity.
  qmgl_input_str in("\"u1\" 1, \"u2\"\t2");
  qmgl_client_id const first(in);
  EXPECT_EQ(in.get_char(), ',');
  EXPECT_TRUE(first == qmgl_client_id(wide_of("u1"), 1));
  EXPECT_TRUE(qmgl_client_id(in) == qmgl_client_id(wide_of("u2"), 2));
}

TEST(ClientId, ReadingErrorsPassOutUnchangedAndAreReported) {
  struct {
    char const* text;
    std::type_info const& type;
    char const* message;
  } const cases[] = {
      {"12 3", typeid(exc_invalid_cast_t), "exc_invalid_cast"},
      {"\"u\" '3'", typeid(exc_invalid_cast_t), "exc_invalid_cast"},
      {"\"u\"", typeid(exc_invalid_cast_t), "exc_invalid_cast"},
      {"\"abc", typeid(exc_unexpected_end_of_input_t),
       "\r\nunterminated string constant (unmatched double quote)\r\n"},
      {"\"abc\" 12x", typeid(exc_invalid_token_t), "\r\nillegal input\r\nbefore: <>\r\n"},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    trace_capture capture(0x8);
    raised const r = raise_of([&] {
      qmgl_input_str in(c.text);
      qmgl_client_id const id(in);
    });
    EXPECT_EQ(r.type, c.type);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(capture.take(), std::vector<captured_record>{caught_record(0x14210100)});
  }
}

TEST(ClientId, EqualityTakesBothFieldsAndOrderIsAStrictWeakOrder) {
  std::vector<qmgl_client_id> ids;
  for (wide const& uuid : {wide(), wide_of("a"), wide_of("ab"), wide_of("b"), wide{0xFFFF},
                           wide{0x8000, 'a'}, wide_of("A")})
    for (int connection : {INT_MIN, -1, 0, 1, INT_MAX})
      ids.emplace_back(uuid, connection);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    qmgl_client_id const a(ids[i]);  // a copy, equal to ids[i] alone
    ASSERT_FALSE(a < a);
    for (std::size_t j = 0; j < ids.size(); ++j) {
      qmgl_client_id const& b = ids[j];
      ASSERT_EQ(a == b, i == j) << i << " " << j;
      // One of two different identities comes first; equal ones are equivalent.
      ASSERT_EQ(int(a < b) + int(b < a), i == j ? 0 : 1) << i << " " << j;
      for (qmgl_client_id const& c : ids)
        ASSERT_TRUE(!(a < b && b < c) || a < c) << "transitive";
    }
  }
  std::set<qmgl_client_id> const keys(ids.begin(), ids.end());
  EXPECT_EQ(keys.size(), ids.size());
}
