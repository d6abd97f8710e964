// Client identities: the process's identity and connection numbers, the text form written and
// read back, equality and order.

#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <typeindex>
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

constexpr auto child_limit = std::chrono::seconds(60);

constexpr std::uint32_t error_text_kind = 0x06040000;
constexpr std::uint32_t from_input_tp = 0x14210100;
constexpr std::uint32_t stream_out_tp = 0x14210200;
constexpr std::uint32_t make_new_tp = 0x14210300;
constexpr int stream_out_failed = 0x206E0001;

using wide = std::basic_string<unsigned short>;

std::string written(qmgl_client_id const& id, int* status = nullptr) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  int const result = id.stream_out(out);
  if (status != nullptr) *status = result;
  return std::string(static_cast<char const*>(text), text.length());
}

qmgl_client_id read_back(std::string const& text) {
  qmgl_input_str in(text.c_str());
  return qmgl_client_id(in);
}

// A sink that takes room characters, then raises.
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

captured_record caught_record(std::uint32_t tracepoint) {
  return text_record(error_text_kind, tracepoint, std::uint64_t{0}, "In catch ERROR\n");
}

// Roles of the helper processes: each checks what only a fresh process shows, and tells by
// its exit code which check failed.

WYGL_CHILD_ROLE(number_connections) {  // no args
  static_cast<void>(args);
  for (int expected = 1; expected <= 3; ++expected)
    if (qmgl_client_id::getConnectionID() != expected) return expected;
  return 0;
}

WYGL_CHILD_ROLE(trace_first_identity) {  // no args
  static_cast<void>(args);
  trace_capture capture(0x8 | 0x10000 | 0x20000);
  qmgl_client_id::getClientID();
  std::vector<captured_record> const first = capture.take();
  std::vector<captured_record> const expected{
      plain_record(0x062A0000, make_new_tp, std::uint64_t{0}),
      value_record(0x062B0000, make_new_tp, std::uint64_t{0}, 0)};
  if (first != expected) return 1;
  qmgl_client_id::getClientID();
  return capture.take().empty() ? 0 : 2;
}

WYGL_CHILD_ROLE(publish_identity) {  // args: name of a block of 64 bytes
  qmgl_mem_shared block(args.at(0).c_str(), 64, qmgl_action_open);
  std::string const uuid = narrow_ascii(qmgl_client_id::getClientID().get_UUID());
  std::memcpy(block.get_address(), uuid.c_str(), uuid.size() + 1);
  return 0;
}

TEST(ClientId, TheProcessIdentityIsMadeOnceWithConnectionZero) {
  qmgl_client_id const& first = qmgl_client_id::getClientID();
  qmgl_client_id const& second = qmgl_client_id::getClientID();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.get_connection_id(), 0);
  std::string const uuid = narrow_ascii(first.get_UUID());
  EXPECT_TRUE(has_uuid_form(uuid)) << uuid;
}

TEST(ClientId, MakingTheIdentityWritesItsEntryAndExitOnlyOnce) {
  child_process child("trace_first_identity", {});
  EXPECT_EQ(child.wait_for_exit(child_limit), 0);
}

TEST(ClientId, EachProcessHasItsOwnUuid) {
  qmgl_ntarray_of<char, 0> const name(unique_object_name("identity").c_str());
  qmgl_mem_shared block(name, 64, qmgl_action_create);
  child_process child("publish_identity", {static_cast<char const*>(name)});
  ASSERT_EQ(child.wait_for_exit(child_limit), 0);
  std::string const theirs(static_cast<char const*>(block.get_address()));
  std::string const mine = narrow_ascii(qmgl_client_id::getClientID().get_UUID());
  EXPECT_TRUE(has_uuid_form(theirs)) << theirs;
  EXPECT_NE(theirs, mine);
}

TEST(ClientId, ConnectionNumbersStartAtOneInAFreshProcess) {
  child_process child("number_connections", {});
  EXPECT_EQ(child.wait_for_exit(child_limit), 0);
}

TEST(ClientId, ConcurrentCallersGetDistinctConsecutiveNumbers) {
  constexpr int threads = 4;
  constexpr int per_thread = 2000;
  std::vector<std::vector<int>> taken(threads);
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([&taken, t] {
      for (int i = 0; i < per_thread; ++i)
        taken[t].push_back(qmgl_client_id::getConnectionID());
    });
  }
  for (std::thread& caller : callers)
    caller.join();
  std::set<int> all;
  for (auto const& numbers : taken)
    all.insert(numbers.begin(), numbers.end());
  ASSERT_EQ(all.size(), std::size_t{threads * per_thread}) << "no number given twice";
  EXPECT_GE(*all.begin(), 1);
  EXPECT_EQ(*all.rbegin() - *all.begin(), threads * per_thread - 1) << "none skipped";
}

TEST(ClientId, ConstructionCopyAndAccess) {
  qmgl_client_id const empty;
  EXPECT_EQ(empty.get_UUID(), wide());
  EXPECT_EQ(empty.get_connection_id(), 0);

  qmgl_client_id id(wide_of("abc"), 7);
  EXPECT_EQ(id.get_UUID(), wide_of("abc"));
  EXPECT_EQ(id.get_connection_id(), 7);
  qmgl_client_id copy(id);
  id.set_connection_id(-3);
  EXPECT_EQ(id.get_connection_id(), -3);
  EXPECT_EQ(copy.get_connection_id(), 7) << "a copy has fields of its own";
  copy = id;
  EXPECT_EQ(copy.get_UUID(), wide_of("abc"));
  EXPECT_EQ(copy.get_connection_id(), -3);
}

TEST(ClientId, EqualOnlyWithBothFieldsEqual) {
  qmgl_client_id const id(wide_of("abc"), 1);
  EXPECT_TRUE(id == qmgl_client_id(wide_of("abc"), 1));
  EXPECT_FALSE(id == qmgl_client_id(wide_of("abc"), 2)) << "same UUID, other connection";
  EXPECT_FALSE(id == qmgl_client_id(wide_of("abd"), 1)) << "other UUID, same connection";
  EXPECT_FALSE(id == qmgl_client_id(wide_of("abcd"), 1));
  EXPECT_FALSE(id == qmgl_client_id(wide(), 1));
}

TEST(ClientId, WritesTheUuidAsAWideValueThenTheNumber) {
  int status = -1;
  EXPECT_EQ(written(qmgl_client_id(wide_of("a\"b"), -7), &status), "\"a\"\"b\"  -7  ");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(written(qmgl_client_id()), "\"\"  0  ");
  wide const accented{0x00E9, 0x20AC};  // e acute, euro sign: written in UTF-8
  EXPECT_EQ(written(qmgl_client_id(accented, 2147483647)),
            "\"\xC3\xA9\xE2\x82\xAC\"  2147483647  ");
}

TEST(ClientId, WrittenAndReadBackIsEqual) {
  qmgl_client_id mine = qmgl_client_id::getClientID();
  mine.set_connection_id(qmgl_client_id::getConnectionID());
  std::string const text = written(mine);
  EXPECT_EQ(text, "\"" + narrow_ascii(mine.get_UUID()) + "\"  " +
                      std::to_string(mine.get_connection_id()) + "  ");
  EXPECT_TRUE(read_back(text) == mine);

  for (qmgl_client_id const& id : {qmgl_client_id(), qmgl_client_id(wide_of("say \"hi\""), INT_MIN),
                                   qmgl_client_id(wide{0x00E9, 0x20AC, 'x'}, -1)}) {
    EXPECT_TRUE(read_back(written(id)) == id) << written(id);
  }
}

TEST(ClientId, ReadingStopsRightAfterTheIdentity) {
  qmgl_input_str in("\"u1\" 1, \"u2\"\t2");
  qmgl_client_id const first(in);
  EXPECT_EQ(in.get_char(), ',');
  qmgl_client_id const second(in);
  EXPECT_TRUE(first == qmgl_client_id(wide_of("u1"), 1));
  EXPECT_TRUE(second == qmgl_client_id(wide_of("u2"), 2));
}

TEST(ClientId, ReadingAValueOfAnotherTypeRaisesInvalidCastAndReportsIt) {
  for (char const* text : {"12 3", "'narrow' 3", "\"u\" '3'", "\"u\"", "\"u\" true"}) {
    trace_capture capture(0x8);
    raised const r = raise_of([&] { read_back(text); });
    EXPECT_TRUE(r.thrown) << text;
    EXPECT_EQ(r.type, std::type_index(typeid(exc_invalid_cast_t))) << text;
    EXPECT_EQ(r.code, 0x20030015u);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_value");
    EXPECT_EQ(r.message, "exc_invalid_cast");
    EXPECT_EQ(capture.take(), std::vector<captured_record>{caught_record(from_input_tp)}) << text;
  }
}

TEST(ClientId, ReaderErrorsPassOutUnchangedAndAreReported) {
  trace_capture capture(0x8);
  raised const unterminated = raise_of([] { read_back("\"abc"); });
  EXPECT_EQ(unterminated.type, std::type_index(typeid(exc_unexpected_end_of_input_t)));
  EXPECT_STREQ(unterminated.file, "src/qmgl/qmgl_value");
  EXPECT_EQ(unterminated.message, "\r\nunterminated string constant (unmatched double quote)\r\n");
  EXPECT_EQ(capture.take(), std::vector<captured_record>{caught_record(from_input_tp)});

  raised const bad_number = raise_of([] { read_back("\"abc\" 12x"); });
  EXPECT_EQ(bad_number.type, std::type_index(typeid(exc_invalid_token_t)));
  EXPECT_EQ(bad_number.message, "\r\nillegal input\r\nbefore: <>\r\n");
  EXPECT_EQ(capture.take(), std::vector<captured_record>{caught_record(from_input_tp)});
}

TEST(ClientId, AFailingStreamGivesTheErrorStatusAndIsReported) {
  qmgl_client_id const id(wide_of("abc"), 42);  // "abc"  42
  for (std::size_t room : {std::size_t{0}, std::size_t{3}, std::size_t{8}, std::size_t{10}}) {
    trace_capture capture(0x8);
    full_output out(room);
    EXPECT_EQ(id.stream_out(out), stream_out_failed) << room;
    EXPECT_EQ(out.text, std::string("\"abc\"  42  ").substr(0, room));
    EXPECT_EQ(capture.take(), std::vector<captured_record>{caught_record(stream_out_tp)});
  }
  trace_capture capture(0x8);
  full_output roomy(11);
  EXPECT_EQ(id.stream_out(roomy), 0);
  EXPECT_EQ(roomy.text, "\"abc\"  42  ");
  EXPECT_TRUE(capture.take().empty());
}

TEST(ClientId, OrderIsByUuidThenConnection) {
  auto const id = [](char const* uuid, int connection) {
    return qmgl_client_id(wide_of(uuid), connection);
  };
  EXPECT_TRUE(id("a", 5) < id("b", 1));
  EXPECT_TRUE(id("a", 1) < id("a", 2));
  EXPECT_TRUE(id("a", INT_MIN) < id("a", -1));
  EXPECT_TRUE(id("a", 9) < id("ab", 0)) << "a text that starts another comes first";
  EXPECT_TRUE(id("", 9) < id("a", 0));
  EXPECT_FALSE(id("b", 1) < id("a", 5));
  EXPECT_TRUE(qmgl_client_id(wide{0x7F}, 0) < qmgl_client_id(wide{0xFFFF}, 0))
      << "units compare as unsigned numbers";

  std::set<qmgl_client_id> keys{id("b", 1), id("a", 2), id("a", 2), id("a", 1)};
  EXPECT_EQ(keys.size(), 3u);
  EXPECT_TRUE(*keys.begin() == id("a", 1));
}

TEST(ClientId, OrderIsAStrictWeakOrderConsistentWithEquality) {
  std::vector<wide> const uuids{wide(),        wide_of("a"),
                                wide_of("ab"), wide_of("b"),
                                wide{0xFFFF},  wide{0x8000, 'a'},
                                wide_of("A"),  wide_of("0f6c1e0a-1b2c-4d3e-8f40-5a6b7c8d9e0f")};
  std::vector<int> const connections{INT_MIN, -1, 0, 1, 2, INT_MAX};
  unsigned const seed = std::random_device{}();
  std::mt19937 pick(seed);
  std::vector<qmgl_client_id> ids;
  for (int i = 0; i < 48; ++i)
    ids.emplace_back(uuids[pick() % uuids.size()], connections[pick() % connections.size()]);

  int ordered_pairs = 0;
  for (auto const& a : ids) {
    ASSERT_FALSE(a < a) << "irreflexive; seed " << seed;
    for (auto const& b : ids) {
      bool const equivalent = !(a < b) && !(b < a);
      ASSERT_EQ(equivalent, a == b) << "equivalence is equality; seed " << seed;
      if (a < b) {
        ++ordered_pairs;
        ASSERT_FALSE(b < a) << "asymmetric; seed " << seed;
      }
      for (auto const& c : ids) {
        if (a < b && b < c) {
          ASSERT_TRUE(a < c) << "transitive; seed " << seed;
        }
        if (equivalent && !(b < c) && !(c < b)) {
          ASSERT_TRUE(!(a < c) && !(c < a)) << "equivalence transitive; seed " << seed;
        }
      }
    }
  }
  EXPECT_GT(ordered_pairs, 0);
}

}  // namespace
