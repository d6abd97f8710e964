// The key-value service without its transport: the log's records, which a log cut short
// anywhere must never misread; the store; the answer to every request; the files open finds.

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_input.h>

#include "kv_checksum.h"
#include "kv_hold.h"
#include "kv_record.h"
#include "kv_service.h"
#include "kv_store.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

using K = kv_change;

std::string record_text(std::vector<kv_change> const& changes) {
  text_sink out;
  for (kv_change const& change : changes)
    kv_write_record(out, change);
  return out.text;
}

// Every record of a log's text, and how the text ended.
std::pair<std::vector<kv_change>, kv_read_result> read_text(std::string const& text) {
  std::pair<std::vector<kv_change>, kv_read_result> back;
  std::size_t at = 0;
  while ((back.second = kv_read_record(text, at)).status == kv_read_result::record)
    back.first.push_back(back.second.change);
  return back;
}

struct change_list : kv_change_sink {
  void record(kv_change const& change) override {
    kv_hold hold(guard);
    changes.push_back(change);
  }
  qmgl_guard guard;
  std::vector<kv_change> changes;
};

class KvRequests : public ::testing::Test {
 protected:
  // The reply to a request written as text, as it would arrive in a message.
  std::string ask(kv_service& service, std::string const& request) {
    qmgl_input_str in(request.c_str());
    text_sink out;
    service.serve(session, in, out);
    return out.text;
  }

  temp_dir dir;
  std::string const folder = dir.file("data");
  kv_session session;
};

}  // namespace

// A record: length, zip CRC-32, body, line feed; a seq above 2^31 keeps its 32 bits, a deadline
// past 2^32 adds an INT of its high bits. A log cut after any byte reads as the whole records
// before the cut, then a clean end or a torn tail, never as a record that was not written.
TEST(KvRecord, TextACutAfterAnyByteAndDamage) {
  EXPECT_EQ(kv_crc32("123456789", 9), 0xCBF43926u);
  std::pair<kv_change, char const*> const written[] = {
      {K{K::put, 7, "greeting", "hello"}, "28  343023920  7  'put' 'greeting' 'hello' \n"},
      {K{K::expire, 8, "greeting", {}, 1765000000},
       "35  1822424352  8  'expire' 'greeting' 1765000000  \n"},
      {K{K::del, 9, "greeting", {}}, "20  3832187323  9  'del' 'greeting' \n"},
      {K{K::base, 0xFFFFFFFFu, "", {}}, "11  3882883429  -1  'base' \n"},
      {K{K::expire, 1, "k", {}, 0x100000005u}, "22  370026254  1  'expire' 'k' 5  1  \n"},
      {K{K::put, 2, "it's",
         array_list({qmgl_value(), true, qmgl_bool3_unknown, -2147483647 - 1, "line\nit's",
                     wide(u"caf\u00e9 \"x\""), bin({0x00, 0xff, 0x0a, 0x20}), array_list({})})},
       nullptr}};
  std::string text;
  std::vector<std::size_t> ends = {0};
  for (auto const& [change, expected] : written) {
    std::string const record = record_text({change});
    EXPECT_EQ(record, expected != nullptr ? expected : record);
    ends.push_back((text += record).size());
  }
  for (std::size_t cut = 0, whole = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE(cut);
    whole += whole + 1 < ends.size() && ends[whole + 1] == cut;
    auto const [records, end] = read_text(text.substr(0, cut));
    ASSERT_EQ(record_text(records), text.substr(0, ends[whole]));
    EXPECT_EQ(end.status, ends[whole] == cut ? kv_read_result::end : kv_read_result::damaged);
    EXPECT_TRUE(ends[whole] == cut || (end.offset == ends[whole] &&  // a torn tail
                                       !kv_record_follows(text.substr(0, cut), ends[whole])));
  }
  // Damage inside the log is reported with its offset, never read, and whole records follow
  // it; white space between records is no damage.
  auto const changed = [&text](std::size_t at, std::string with, std::size_t drop) {
    return text.substr(0, at) + with + text.substr(at + drop);
  };
  std::pair<std::string, char const*> const damaged[] = {
      {changed(text.find("greeting", ends[1]), "G", 1), "record whose checksum does not match"},
      {changed(ends[2] - 1, "x", 0), "record without its line feed"},
      {changed(ends[1], "hello world\n", 0), "record without a valid length"},
      {changed(ends[1], "12  x\n", 0), "record without a checksum"},
      {changed(ends[1], " \n\r\n", 0), ""}};
  for (auto const& [log, problem] : damaged) {
    SCOPED_TRACE(problem);
    auto const [records, end] = read_text(log);
    EXPECT_EQ(end.problem, problem);
    EXPECT_EQ(records.size(), *problem ? 1u : ends.size() - 1);
    EXPECT_EQ(end.status, *problem ? kv_read_result::damaged : kv_read_result::end);
    EXPECT_TRUE(!*problem || (end.offset == ends[1] && kv_record_follows(log, ends[1])));
  }
}

// A key is gone at its deadline, a put drops its deadline, expiring in 0 seconds deletes, and
// a long expiry after 2038 reaches past 2^32 seconds without wrapping into the past.
TEST(KvStore, DeadlinesAndExpiry) {
  change_list sink;
  kv_store store(&sink);
  store.put("short", "s");
  store.put("renewed", "r");
  EXPECT_EQ(store.expire("short", 10, 1000), std::optional<std::uint32_t>(3));
  store.expire("renewed", 10, 1000);
  store.put("renewed", "again");
  store.put("zero", 0);
  EXPECT_EQ(store.expire("zero", 0, 1000), std::optional<std::uint32_t>(7));
  EXPECT_EQ(store.expire("zero", 5, 1000), std::nullopt);
  EXPECT_EQ(sink.changes[2].deadline, 1010u);
  EXPECT_EQ(sink.changes[6].kind, K::del);
  EXPECT_TRUE(store.get("short", 1009));
  EXPECT_EQ(store.keys(1010), (std::vector<std::string>{"renewed"}));
  EXPECT_EQ(store.drop_expired(1010), 1u);
  EXPECT_EQ(store.size(), 1u);
  std::uint64_t const in_2040 = 2200000000u;
  store.expire("renewed", 2147483647, in_2040);
  EXPECT_EQ(sink.changes.back().deadline, in_2040 + 2147483647u);
  EXPECT_TRUE(store.get("renewed", in_2040 + 1));
}

TEST(KvStore, ConcurrentChangesReachTheSinkInSequenceOrder) {
  change_list sink;
  kv_store store(&sink);
  std::vector<std::future<void>> done;
  for (int t = 0; t < 8; ++t)
    done.push_back(std::async(std::launch::async, [&store, t] {
      for (int i = 0; i < 500; ++i)
        store.put("k" + std::to_string(t) + "." + std::to_string(i % 7), i);
    }));
  for (auto& d : done)
    ASSERT_EQ(d.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  ASSERT_EQ(sink.changes.size(), 8u * 500u);
  for (std::size_t i = 0; i < sink.changes.size(); ++i)
    ASSERT_EQ(sink.changes[i].seq, i + 1);
}

TEST_F(KvRequests, EveryRequestHasItsReplyAndABadOneGetsAnError) {
  kv_service service(folder);
  EXPECT_EQ(service.open().records, 0u);
  std::pair<char const*, char const*> const cases[] = {
      {"'put' 'greeting' 'hello'", "'ok' 1  "},
      {"'put' 'n' 42", "'ok' 2  "},
      {"'get' 'greeting'", "'ok' 'hello' "},
      {"'get' 'nothing'", "'not_found' 'nothing' "},
      {"'keys'", "'ok' ('greeting' , 'n' )  "},
      {"'expire' 'n' 3600", "'ok' 3  "},
      {"'expire' 'nothing' 5", "'not_found' 'nothing' "},
      {"'del' 'greeting'", "'ok' 4  "},
      {"'del' 'greeting'", "'not_found' 'greeting' "},
      {"'sync'", "'ok' 4  "},
      {"'compact'", "'ok' 1  "},
      {"'hello' \"0f6c1e0a-aaaa\" 7", "'ok' \"0f6c1e0a-aaaa\"  7  "},
      {"'put' 'k' 12x", "'error' 'illegal input; before: <>' "},
      {"", "'error' 'empty request' "},
      {"5 'k'", "'error' 'a request starts with its name, an STR such as ''get''' "},
      {"'put' 5 6", "'error' 'put takes a key (an STR) and a value' "},
      {"'get' 'a' 'b'", "'error' 'get takes a key (an STR)' "},
      {"'expire' 'k' '5'",
       "'error' 'expire takes a key (an STR) and a number of seconds (an INT)' "},
      {"'hello' 'me' 1", "'error' 'hello takes a client identity (a UNI and an INT)' "},
      {"'shout'", "'error' 'unknown request ''shout''' "},
  };
  for (auto const& [request, reply] : cases)
    EXPECT_EQ(ask(service, request), reply) << request;
  EXPECT_EQ(ask(service, "'stats'"),
            "'ok' ('connections' , 0  , 'open' , 0  , 'requests' , 21  , 'errors' , 8  , "
            "'keys' , 1  , 'sequence' , 4  , 'written' , 4  , 'flushed' , 4  , "
            "'compactions' , 2  , 'anonymous' , 12  )  (\"0f6c1e0a-aaaa\"  , 7  , 9  )  ");
  service.connection_opened();  // the identity goes with its last connection
  service.connection_closed(session);
  EXPECT_EQ(ask(service, "'stats'").find("0f6c1e0a"), std::string::npos);
}

// What open makes of the files it finds: a snapshot alone was finished and its rename cut
// short, one beside a log was not; keys past their deadline in the log are not loaded.
TEST_F(KvRequests, OpenSettlesTheFilesItFinds) {
  std::string const expired =
      record_text({K{K::put, 1, "old", "v"}, K{K::expire, 2, "old", {}, kv_now() - 10},
                   K{K::put, 3, "gone", 1}, K{K::del, 4, "gone", {}}});
  std::string const snapshot = record_text({K{K::put, 9, "fresh", 1}});
  std::pair<std::string, std::string> const cases[] = {
      {expired, ""}, {"", snapshot}, {snapshot, "12  34  half"}};
  for (auto const& [log, shot] : cases) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    if (!log.empty()) write_file(kv_log::log_path(folder), log);
    if (!shot.empty()) write_file(kv_log::snapshot_path(folder), shot);
    kv_service service(folder);
    service.open();
    EXPECT_EQ(ask(service, "'keys'"), log == expired ? "'ok' ()  " : "'ok' ('fresh' )  ");
    EXPECT_FALSE(std::filesystem::exists(kv_log::snapshot_path(folder)));
  }
}
