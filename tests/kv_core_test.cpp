// The key-value service without its transport: the log's records, which a log cut short
// anywhere must never misread; the store; the answer to every request; and what the log keeps
// across a close, a damaged end and a compaction.

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_checksum.h"
#include "kv_hold.h"
#include "kv_record.h"
#include "kv_service.h"
#include "kv_store.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

kv_change change_of(kv_change::kind_t kind, std::uint32_t seq, std::string key,
                    qmgl_value value = {}, std::uint64_t deadline = 0) {
  kv_change change;
  change.kind = kind;
  change.seq = seq;
  change.key = std::move(key);
  change.value = std::move(value);
  change.deadline = deadline;
  return change;
}

std::string record_text(std::vector<kv_change> const& changes) {
  text_sink out;
  for (kv_change const& change : changes)
    kv_write_record(out, change);
  return out.text;
}

// A change on one line, to compare: "seq kind key value-text deadline".
std::string shown(kv_change const& c) {
  return std::to_string(c.seq) + " " + kv_change_word(c.kind) + " " + c.key + " " +
         text_of(c.value) + std::to_string(c.deadline);
}

std::vector<std::string> shown(std::vector<kv_change> const& changes) {
  std::vector<std::string> lines;
  for (kv_change const& c : changes)
    lines.push_back(shown(c));
  return lines;
}

// Every record of a log's text, and how the text ended.
struct read_back {
  std::vector<kv_change> records;
  kv_read_result end;
};

read_back read_text(std::string const& text) {
  read_back back;
  std::size_t at = 0;
  while ((back.end = kv_read_record(text, at)).status == kv_read_result::record)
    back.records.push_back(back.end.change);
  return back;
}

// Keeps every change handed to it.
struct change_list : kv_change_sink {
  void record(kv_change const& change) override {
    kv_hold hold(guard);
    changes.push_back(change);
  }
  qmgl_guard guard;
  std::vector<kv_change> changes;
};

std::string text_at(kv_store const& store, std::string const& key, std::uint64_t now = 1000) {
  auto const value = store.get(key, now);
  return value ? text_of(*value) : "absent";
}

}  // namespace

TEST(KvRecord, TextIsLengthChecksumBodyAndLineFeed) {
  EXPECT_EQ(kv_crc32("123456789", 9), 0xCBF43926u);  // the zip CRC-32
  EXPECT_EQ(kv_crc32("", 0), 0u);
  // Sequence numbers above 2^31 keep their 32 bits through the INT text; deadlines past 2^32
  // add an INT of their high bits.
  std::pair<kv_change, char const*> const cases[] = {
      {change_of(kv_change::put, 7, "greeting", "hello"),
       "28  343023920  7  'put' 'greeting' 'hello' \n"},
      {change_of(kv_change::expire, 8, "greeting", {}, 1765000000),
       "35  1822424352  8  'expire' 'greeting' 1765000000  \n"},
      {change_of(kv_change::del, 9, "greeting"), "20  3832187323  9  'del' 'greeting' \n"},
      {change_of(kv_change::base, 0xFFFFFFFFu, ""), "11  3882883429  -1  'base' \n"},
      {change_of(kv_change::expire, 1, "k", {}, 0x100000005u),
       "22  370026254  1  'expire' 'k' 5  1  \n"},
  };
  for (auto const& [change, text] : cases)
    EXPECT_EQ(record_text({change}), text);
}

// A crash may cut the log after any byte. Whatever is left reads as the whole records before
// the cut and then either a clean end (a cut between records) or a damaged end at the record
// that was cut, never as a record that was not written, and no record follows it.
TEST(KvRecord, ALogCutAfterAnyByteReadsAsTheRecordsBeforeTheCut) {
  std::vector<kv_change> const written = {
      change_of(kv_change::put, 1, "null"),
      change_of(kv_change::put, 2, "bool", true),
      change_of(kv_change::put, 3, "bool3", qmgl_bool3_unknown),
      change_of(kv_change::put, 4, "int", -2147483647 - 1),
      change_of(kv_change::put, 5, "it's", "line one\nit's 'quoted'"),
      change_of(kv_change::put, 6, "uni", wide(u"caf\u00e9 \"x\"")),
      change_of(kv_change::put, 7, "bin", bin({0x00, 0xff, 0x0a, 0x20})),
      change_of(kv_change::put, 8, "array", array_list({1, "a", qmgl_value()})),
      change_of(kv_change::expire, 9, "int", {}, 4000000000u),
      change_of(kv_change::expire, 9, "int", {}, 0x100000005u),
      change_of(kv_change::del, 10, "bool"),
      change_of(kv_change::base, 0xFFFFFFFFu, "")};
  std::string text;
  std::vector<std::size_t> ends;
  for (kv_change const& change : written)
    ends.push_back((text += record_text({change})).size());
  for (std::size_t cut = 0, whole = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE(cut);
    whole += whole < ends.size() && ends[whole] == cut;
    read_back const back = read_text(text.substr(0, cut));
    std::size_t const start = whole == 0 ? 0 : ends[whole - 1];
    ASSERT_EQ(shown(back.records),
              shown(std::vector<kv_change>(written.begin(), written.begin() + whole)));
    EXPECT_EQ(back.end.status, start == cut ? kv_read_result::end : kv_read_result::damaged);
    if (start != cut) {
      EXPECT_EQ(back.end.offset, start);
      EXPECT_FALSE(kv_record_follows(text.substr(0, cut), start));  // a torn tail
    }
  }
}

// Damage is reported with its offset, never read; whether whole records follow it tells
// damage inside the log from a torn tail. White space after the last record is no damage.
TEST(KvRecord, DamageIsReportedWithItsOffsetAndTheRecordsAfterIt) {
  std::string const first = record_text({change_of(kv_change::put, 1, "a", "alpha")});
  std::string const third = record_text({change_of(kv_change::put, 3, "c", "gamma")});
  std::string flipped = record_text({change_of(kv_change::put, 2, "b", "beta")});
  std::string longer = flipped;
  flipped[flipped.find("beta")] = 'B';
  longer.insert(longer.size() - 1, "x");
  std::pair<std::string, char const*> const cases[] = {
      {flipped, "record whose checksum does not match"},
      {longer, "record without its line feed"},
      {"hello world\n", "record without a valid length"},
      {"12  x\n", "record without a checksum"},
      {" \n\r\n", ""},
  };
  for (auto const& [damage, problem] : cases) {
    SCOPED_TRACE(problem);
    read_back const back = read_text(first + damage);
    EXPECT_EQ(back.records.size(), 1u);
    EXPECT_EQ(back.end.problem, problem);
    if (*problem == '\0') {
      EXPECT_EQ(back.end.status, kv_read_result::end);
      continue;
    }
    EXPECT_EQ(back.end.status, kv_read_result::damaged);
    EXPECT_EQ(back.end.offset, first.size());
    EXPECT_FALSE(kv_record_follows(first + damage, first.size()));
    EXPECT_TRUE(kv_record_follows(first + damage + third, first.size()));
  }
}

// Changes are numbered and handed to the sink in order; a key is gone at its deadline, a put
// drops its deadline, expiring in 0 seconds deletes, and a dropped key is no change.
TEST(KvStore, ChangesDeadlinesAndExpiry) {
  change_list sink;
  kv_store store(&sink);
  EXPECT_EQ(store.put("a", 1), 1u);
  EXPECT_EQ(store.put("short", "s"), 2u);
  EXPECT_EQ(store.put("renewed", "r"), 3u);
  EXPECT_EQ(store.expire("short", 10, 1000), std::optional<std::uint32_t>(4));
  EXPECT_EQ(store.expire("renewed", 10, 1000), std::optional<std::uint32_t>(5));
  EXPECT_EQ(store.put("renewed", "again"), 6u);
  EXPECT_EQ(store.del("a", 1000), std::optional<std::uint32_t>(7));
  EXPECT_EQ(store.del("a", 1000), std::nullopt);
  EXPECT_EQ(store.expire("zz", 5, 1000), std::nullopt);
  EXPECT_EQ(store.put("zero", 0), 8u);
  EXPECT_EQ(store.expire("zero", 0, 1000), std::optional<std::uint32_t>(9));
  EXPECT_EQ(store.expire("zero", -5, 1000), std::nullopt);
  EXPECT_EQ(shown(sink.changes),
            (std::vector<std::string>{"1 put a 1  0", "2 put short 's' 0", "3 put renewed 'r' 0",
                                      "4 expire short null 1010", "5 expire renewed null 1010",
                                      "6 put renewed 'again' 0", "7 del a null 0",
                                      "8 put zero 0  0", "9 del zero null 0"}));
  EXPECT_EQ(store.seq(), 9u);
  EXPECT_EQ(text_at(store, "short", 1009), "'s' ");
  EXPECT_EQ(text_at(store, "short", 1010), "absent");
  EXPECT_EQ(text_at(store, "renewed", 5000), "'again' ");
  EXPECT_EQ(store.keys(1010), (std::vector<std::string>{"renewed"}));
  EXPECT_EQ(store.present(1010), 1u);
  EXPECT_EQ(store.expire("short", 10, 1010), std::nullopt);
  EXPECT_EQ(store.size(), 2u);
  EXPECT_EQ(store.drop_expired(1010), 1u);
  EXPECT_EQ(store.size(), 1u);
  EXPECT_EQ(sink.changes.size(), 9u);
  // After 2038 a long expiry reaches past 2^32 seconds: it must not wrap into the past.
  std::uint64_t const in_2040 = 2200000000u;
  store.expire("renewed", 2147483647, in_2040);
  EXPECT_EQ(sink.changes.back().deadline, in_2040 + 2147483647u);
  EXPECT_EQ(text_at(store, "renewed", in_2040 + 1), "'again' ");
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
  EXPECT_EQ(store.size(), 8u * 7u);
}

TEST(KvStore, ASnapshotRebuildsTheSameStore) {
  kv_store original;
  original.put("a", array_list({1, 2}));
  original.put("b", bin({0xab}));
  original.put("c", "gone");
  original.del("c", 1000);
  original.expire("b", 60, 1000);
  kv_snapshot const shot = original.snapshot();
  EXPECT_EQ(shot.seq, 5u);
  kv_store copy;
  for (kv_change const& change : shot.changes)
    copy.apply(change);
  EXPECT_EQ(copy.seq(), 5u);
  EXPECT_EQ(copy.keys(1000), original.keys(1000));
  EXPECT_EQ(text_at(copy, "a"), "(1  , 2  )  ");
  EXPECT_EQ(text_at(copy, "b", 1059), "#ab ");
  EXPECT_EQ(text_at(copy, "b", 1060), "absent");
}

namespace {

class KvRequests : public ::testing::Test {
 protected:
  // The reply to a request written as text, as it would arrive in a message.
  std::string ask(kv_service& service, char const* request) {
    qmgl_input_str in(request);
    text_sink out;
    service.serve(session, in, out);
    return out.text;
  }
  std::string log_text() const { return file_contents(kv_log::log_path(folder)); }

  temp_dir dir;
  std::string const folder = dir.file("data");
  kv_session session;
};

}  // namespace

TEST_F(KvRequests, EveryRequestHasItsReplyAndABadOneGetsAnError) {
  kv_service service(folder);
  kv_open_report const opened = service.open();
  EXPECT_EQ(opened.records, 0u);
  EXPECT_EQ(opened.dropped_tail, "");
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
      {"'get' 'k", "'error' 'unterminated string constant (unmatched single quote)' "},
      {"'get' nope", "'error' 'unrecognized keyword; before: <>' "},
      {"", "'error' 'empty request' "},
      {"5 'k'", "'error' 'a request starts with its name, an STR such as ''get''' "},
      {"'put' 5 6", "'error' 'put takes a key (an STR) and a value' "},
      {"'get' 'a' 'b'", "'error' 'get takes a key (an STR)' "},
      {"'expire' 'k' '5'",
       "'error' 'expire takes a key (an STR) and a number of seconds (an INT)' "},
      {"'hello' 'me' 1", "'error' 'hello takes a client identity (a UNI and an INT)' "},
      {"'shout'", "'error' 'unknown request ''shout''' "},
      {"'get' 'n'", "'ok' 42  "},
  };
  for (auto const& [request, reply] : cases)
    EXPECT_EQ(ask(service, request), reply) << request;
  // Values of every type are kept as they came.
  for (char const* value : {"null", "true", "unknown", "-7", "'it''s'", "\"wide\"", "#00ff",
                            "(1, 'a', (2, 3))", "()"}) {
    EXPECT_EQ(ask(service, ("'put' 'v' " + std::string(value)).c_str()).substr(0, 5), "'ok' ");
    qmgl_input_str in(value);
    qmgl_value expected;
    in >> expected;
    EXPECT_EQ(ask(service, "'get' 'v'"), "'ok' " + text_of(expected)) << value;
  }
  EXPECT_EQ(ask(service, "'sync'"), "'ok' 13  ");
  EXPECT_EQ(ask(service, "'stats'"),
            "'ok' ('connections' , 0  , 'open' , 0  , 'requests' , 43  , 'errors' , 10  , "
            "'keys' , 2  , 'sequence' , 13  , 'written' , 13  , 'flushed' , 13  , "
            "'compactions' , 2  , 'anonymous' , 12  )  (\"0f6c1e0a-aaaa\"  , 7  , 31  )  ");
  // The identity goes with its last connection.
  service.connection_opened();
  service.connection_closed(session);
  EXPECT_EQ(ask(service, "'stats'").find("0f6c1e0a"), std::string::npos);
}

// A close and a reopen replay every kind of record, before and after a compaction; a torn
// end is dropped and reported, and the log is rewritten at open, so that new records follow
// whole ones only.
TEST_F(KvRequests, TheLogKeepsTheStoreAcrossClosesCompactionsAndATornEnd) {
  auto const run = [this](std::vector<std::string> const& requests) {
    kv_service service(folder);
    kv_open_report const opened = service.open();
    for (std::string const& request : requests)
      ask(service, request.c_str());
    return opened;
  };
  std::vector<std::string> counting;
  for (int i = 0; i < 200; ++i)
    counting.push_back("'put' 'counter' " + std::to_string(i));
  run(counting);
  std::size_t const before = log_text().size();
  kv_open_report opened = run({"'put' 'c' (1, 'x')", "'expire' 'c' 3600", "'put' 'gone' 2",
                               "'del' 'gone'", "'compact'", "'put' 'late' #01"});
  EXPECT_EQ(opened.records, 201u);  // the snapshot of the first open and 200 puts
  EXPECT_LT(log_text().size() * 20, before);
  opened = run({"'put' 'torn' 2"});
  EXPECT_EQ(opened.records, 5u);  // base, counter, c and its deadline, late
  EXPECT_EQ(opened.keys, 3u);
  std::string const whole = log_text();
  std::filesystem::resize_file(kv_log::log_path(folder), whole.size() - 5);

  kv_service service(folder);
  opened = service.open();
  EXPECT_EQ(opened.dropped_tail,
            "record cut short at byte " + std::to_string(whole.rfind('\n', whole.size() - 2) + 1));
  for (auto const& [request, reply] :
       std::vector<std::pair<char const*, char const*>>{{"'get' 'counter'", "'ok' 199  "},
                                                        {"'get' 'c'", "'ok' (1  , 'x' )  "},
                                                        {"'get' 'gone'", "'not_found' 'gone' "},
                                                        {"'get' 'late'", "'ok' #01 "},
                                                        {"'get' 'torn'", "'not_found' 'torn' "},
                                                        {"'put' 'after' 3", "'ok' 206  "}})
    EXPECT_EQ(ask(service, request), reply) << request;
  service.close();
  read_back const back = read_text(log_text());
  EXPECT_EQ(back.end.status, kv_read_result::end) << back.end.problem;
  EXPECT_EQ(back.records.size(), 6u);  // base, counter, c and its deadline, late, after
}

// What open makes of the files it finds: a snapshot alone was finished and its rename cut
// short, one beside a log was not; keys past their deadline in the log are not loaded.
TEST_F(KvRequests, OpenSettlesTheFilesItFinds) {
  std::string const expired =
      record_text({change_of(kv_change::put, 1, "old", "v"),
                   change_of(kv_change::expire, 2, "old", {}, kv_now() - 10)});
  std::string const snapshot = record_text({change_of(kv_change::put, 9, "fresh", 1)});
  struct {
    std::string log;
    std::string snapshot;
    char const* keys;
  } const cases[] = {{expired, "", "'ok' ()  "},
                     {"", snapshot, "'ok' ('fresh' )  "},
                     {snapshot, "12  34  half", "'ok' ('fresh' )  "}};
  for (auto const& c : cases) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    if (!c.log.empty()) write_file(kv_log::log_path(folder), c.log);
    if (!c.snapshot.empty()) write_file(kv_log::snapshot_path(folder), c.snapshot);
    kv_service service(folder);
    service.open();
    EXPECT_EQ(ask(service, "'keys'"), c.keys);
    EXPECT_FALSE(std::filesystem::exists(kv_log::snapshot_path(folder)));
  }
}
