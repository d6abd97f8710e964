// The key-value service without its transport: the answer to every request, requests that
// cannot be read, and what the log keeps across a close, a damaged end and a compaction.

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_record.h"
#include "kv_service.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

// The text of a reply's values, as a client sees it.
std::string text_of_reply(std::vector<qmgl_value> const& reply) {
  std::string text;
  for (qmgl_value const& v : reply)
    text += text_of(v);
  return text;
}

class kv_folder : public ::testing::Test {
 protected:
  std::string ask(kv_service& service, std::vector<qmgl_value> const& request) {
    return text_of_reply(service.answer(session, request));
  }
  // The reply to a request written as text, as it would arrive in a message.
  std::string ask_text(kv_service& service, char const* request) {
    qmgl_input_str in(request);
    text_sink out;
    service.serve(session, in, out);
    return out.text;
  }
  std::string log_text() const {
    std::ifstream in(kv_log::log_path(folder), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  temp_dir dir;
  std::string const folder = dir.file("data");
  kv_session session;
};

using KvRequests = kv_folder;

}  // namespace

TEST_F(KvRequests, EveryRequestKindHasItsReply) {
  kv_service service(folder);
  kv_open_report const opened = service.open();
  EXPECT_EQ(opened.records, 0u);
  EXPECT_EQ(opened.dropped_tail, "");
  EXPECT_EQ(ask(service, {"put", "greeting", "hello"}), "'ok' 1  ");
  EXPECT_EQ(ask(service, {"put", "n", 42}), "'ok' 2  ");
  EXPECT_EQ(ask(service, {"get", "greeting"}), "'ok' 'hello' ");
  EXPECT_EQ(ask(service, {"get", "nothing"}), "'not_found' 'nothing' ");
  EXPECT_EQ(ask(service, {"keys"}), "'ok' ('greeting' , 'n' )  ");
  EXPECT_EQ(ask(service, {"expire", "n", 3600}), "'ok' 3  ");
  EXPECT_EQ(ask(service, {"expire", "nothing", 5}), "'not_found' 'nothing' ");
  EXPECT_EQ(ask(service, {"del", "greeting"}), "'ok' 4  ");
  EXPECT_EQ(ask(service, {"del", "greeting"}), "'not_found' 'greeting' ");
  EXPECT_EQ(ask(service, {"sync"}), "'ok' 4  ");
  EXPECT_EQ(ask(service, {"compact"}), "'ok' 1  ");
  EXPECT_EQ(ask(service, {"hello", qmgl_value(wide(u"0f6c1e0a-aaaa")), 7}),
            "'ok' \"0f6c1e0a-aaaa\"  7  ");
  EXPECT_EQ(ask(service, {"get", "n"}), "'ok' 42  ");
  EXPECT_EQ(ask(service, {"stats"}),
            "'ok' ('connections' , 0  , 'open' , 0  , 'requests' , 14  , 'errors' , 0  , "
            "'keys' , 1  , 'sequence' , 4  , 'written' , 4  , 'flushed' , 4  , "
            "'compactions' , 2  , 'anonymous' , 12  )  (\"0f6c1e0a-aaaa\"  , 7  , 2  )  ");
  // The identity goes with its last connection.
  service.connection_opened();
  service.connection_closed(session);
  EXPECT_EQ(ask(service, {"stats"}).find("0f6c1e0a"), std::string::npos);
}

TEST_F(KvRequests, ValuesOfEveryTypeAreStoredAsTheyCame) {
  kv_service service(folder);
  service.open();
  for (char const* value : {"null", "true", "unknown", "-7", "'it''s'", "\"wide\"", "#00ff",
                            "(1, 'a', (2, 3))", "()"}) {
    std::string const put = std::string("'put' 'k' ") + value;
    EXPECT_EQ(ask_text(service, put.c_str()).substr(0, 5), "'ok' ") << value;
    qmgl_input_str in(value);
    qmgl_value expected;
    in >> expected;
    EXPECT_EQ(ask_text(service, "'get' 'k'"), "'ok' " + text_of(expected)) << value;
  }
}

TEST_F(KvRequests, AMalformedOrMisshapenRequestGetsAnErrorReply) {
  kv_service service(folder);
  service.open();
  EXPECT_EQ(ask_text(service, "'put' 'k' 12x"), "'error' 'illegal input; before: <>' ");
  EXPECT_EQ(ask_text(service, "'get' 'k"),
            "'error' 'unterminated string constant (unmatched single quote)' ");
  EXPECT_EQ(ask_text(service, "'get' nope"), "'error' 'unrecognized keyword; before: <>' ");
  EXPECT_EQ(ask_text(service, ""), "'error' 'empty request' ");
  EXPECT_EQ(ask_text(service, "5 'k'"),
            "'error' 'a request starts with its name, an STR such as ''get''' ");
  EXPECT_EQ(ask_text(service, "'put' 5 6"), "'error' 'put takes a key (an STR) and a value' ");
  EXPECT_EQ(ask_text(service, "'get' 'a' 'b'"), "'error' 'get takes a key (an STR)' ");
  EXPECT_EQ(ask_text(service, "'expire' 'k' '5'"),
            "'error' 'expire takes a key (an STR) and a number of seconds (an INT)' ");
  EXPECT_EQ(ask_text(service, "'hello' 'me' 1"),
            "'error' 'hello takes a client identity (a UNI and an INT)' ");
  EXPECT_EQ(ask_text(service, "'shout'"), "'error' 'unknown request ''shout''' ");
  EXPECT_EQ(ask_text(service, "'keys'"), "'ok' ()  ");
  EXPECT_NE(ask_text(service, "'stats'").find("'errors' , 10  "), std::string::npos);
}

TEST_F(KvRequests, TheStoreComesBackFromTheLogAfterAClose) {
  {
    kv_service service(folder);
    service.open();
    ask(service, {"put", "a", "alpha"});
    ask(service, {"put", "b", bin({1, 2, 3})});
    ask(service, {"put", "a", "again"});
    ask(service, {"del", "b"});
    ask(service, {"put", "c", qmgl_value(array_list({1, "x"}))});
    ask(service, {"expire", "c", 3600});
    service.close();
  }
  kv_service service(folder);
  kv_open_report const opened = service.open();
  EXPECT_EQ(opened.records, 7u);  // the snapshot of the first open, then six changes
  EXPECT_EQ(opened.keys, 2u);
  EXPECT_EQ(ask(service, {"get", "a"}), "'ok' 'again' ");
  EXPECT_EQ(ask(service, {"get", "b"}), "'not_found' 'b' ");
  EXPECT_EQ(ask(service, {"get", "c"}), "'ok' (1  , 'x' )  ");
  EXPECT_EQ(ask(service, {"put", "d", 4}), "'ok' 7  ");
}

TEST_F(KvRequests, ADamagedEndIsDroppedAndTheLogStartsCleanAgain) {
  {
    kv_service service(folder);
    service.open();
    ask(service, {"put", "kept", 1});
    ask(service, {"put", "torn", 2});
    service.close();
  }
  std::string const whole = log_text();
  std::filesystem::resize_file(kv_log::log_path(folder), whole.size() - 5);
  kv_service service(folder);
  kv_open_report const opened = service.open();
  EXPECT_EQ(opened.dropped_tail,
            "record cut short at byte " + std::to_string(whole.rfind('\n', whole.size() - 2) + 1));
  EXPECT_EQ(ask(service, {"get", "kept"}), "'ok' 1  ");
  EXPECT_EQ(ask(service, {"get", "torn"}), "'not_found' 'torn' ");
  ask(service, {"put", "after", 3});
  service.close();
  // The log was rewritten at open: the new record follows whole records only.
  std::string const rewritten = log_text();
  std::size_t at = 0;
  std::size_t records = 0;
  kv_read_result next;
  while ((next = kv_read_record(rewritten, at)).status == kv_read_result::record)
    ++records;
  EXPECT_EQ(next.status, kv_read_result::end) << next.problem;
  EXPECT_EQ(records, 3u);  // base, kept, after
}

TEST_F(KvRequests, CompactionRewritesTheLogAsTheState) {
  kv_service service(folder);
  service.open();
  for (int i = 0; i < 200; ++i)
    ask(service, {"put", "counter", i});
  ask(service, {"put", "other", "x"});
  ask(service, {"expire", "other", 3600});
  ask(service, {"sync"});
  std::size_t const before = log_text().size();
  EXPECT_EQ(ask(service, {"compact"}), "'ok' 2  ");
  std::size_t const after = log_text().size();
  EXPECT_LT(after * 20, before);
  ask(service, {"put", "late", 1});
  service.close();

  kv_service again(folder);
  kv_open_report const opened = again.open();
  EXPECT_EQ(opened.records, 5u);  // base, counter, other, its deadline, late
  EXPECT_EQ(ask(again, {"get", "counter"}), "'ok' 199  ");
  EXPECT_EQ(ask(again, {"get", "late"}), "'ok' 1  ");
  EXPECT_EQ(ask(again, {"stats"}).find("'sequence' , 203  ") != std::string::npos, true);
}

TEST_F(KvRequests, KeysPastTheirDeadlineInTheLogAreNotLoaded) {
  std::filesystem::create_directories(folder);
  {
    std::ofstream log(kv_log::log_path(folder), std::ios::binary);
    text_sink out;
    kv_change change;
    change.seq = 1;
    change.key = "old";
    change.value = "v";
    kv_write_record(out, change);
    change.kind = kv_change::expire;
    change.seq = 2;
    change.deadline = kv_now() - 10;
    kv_write_record(out, change);
    log << out.text;
  }
  kv_service service(folder);
  kv_open_report const opened = service.open();
  EXPECT_EQ(opened.records, 2u);
  EXPECT_EQ(opened.keys, 0u);
  EXPECT_EQ(ask(service, {"keys"}), "'ok' ()  ");
}

TEST_F(KvRequests, AnInterruptedCompactionIsSettledAtOpen) {
  std::filesystem::create_directories(folder);
  std::string const fresh = kv_log::snapshot_path(folder);
  // A snapshot that was written but not renamed: it is the log.
  {
    text_sink out;
    kv_change change;
    change.seq = 9;
    change.key = "from-snapshot";
    change.value = 1;
    kv_write_record(out, change);
    std::ofstream(fresh, std::ios::binary) << out.text;
  }
  {
    kv_service service(folder);
    service.open();
    EXPECT_EQ(ask(service, {"get", "from-snapshot"}), "'ok' 1  ");
  }
  EXPECT_FALSE(std::filesystem::exists(fresh));
  // A snapshot beside a log: it was not finished, the log counts.
  std::ofstream(fresh, std::ios::binary) << "12  34  half";
  kv_service service(folder);
  service.open();
  EXPECT_EQ(ask(service, {"get", "from-snapshot"}), "'ok' 1  ");
  EXPECT_FALSE(std::filesystem::exists(fresh));
}
