// The key-value example service as its users run it: the real wygl_kv_server program, started
// as a process on a free loopback port, driven through the RPC layer and the wygl_kv client
// program.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_socket.h>

#include "kv_client.h"
#include "support/child_process.h"
#include "support/loopback_services.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

using namespace std::chrono_literals;

// Generous: a server under a sanitizer or Wine starts slowly.
constexpr auto start_limit = 60s;
constexpr auto exit_limit = 60s;

std::string reply_of(kv_client& kv, std::vector<qmgl_value> const& request) {
  return kv_reply_text(kv.call(request));
}

// A number that 'stats' reports.
int stat_of(kv_client& kv, char const* name) {
  std::vector<qmgl_value> const reply = kv.call({"stats"});
  qmgl_value_array const& pairs = reply.at(1).as_value_array();
  for (unsigned i = 0; i + 1 < pairs.get_size(); i += 2)
    if (std::strcmp(pairs[i].as_charp(), name) == 0) return pairs[i + 1].as_int();
  ADD_FAILURE() << "no stat " << name;
  return -1;
}

// A server process that is asked to stop, and waited for, when it goes out of scope, so that it
// leaves nothing behind; the kill that ends a child process by default stays for Windows,
// where the system removes what a killed process held.
class server_process : public child_process {
 public:
  using child_process::child_process;
  ~server_process() { end(); }
  // Stops it cleanly where that can be asked for, else kills it; waits for its end.
  void end() {
    if (ask_to_stop())
      wait_for_exit(exit_limit);
    else
      kill();
  }
};

class KvService : public ::testing::Test {
 protected:
  // Starts wygl_kv_server on the service and folder; its output goes to a file of its own.
  std::unique_ptr<server_process> start_server(std::string const& data_folder,
                                               std::vector<std::string> options = {}) {
    std::string const output = dir.file("server-" + std::to_string(++started) + ".out");
    options.push_back(service);
    options.push_back(data_folder);
    outputs.push_back(output);
    return std::make_unique<server_process>(program_start{"wygl_kv_server", options, output});
  }

  // Waits until the server answers, polling with a deadline; the server's death ends the wait.
  std::unique_ptr<kv_client> connect(child_process& process) {
    auto const deadline = std::chrono::steady_clock::now() + start_limit;
    while (std::chrono::steady_clock::now() < deadline) {
      try {
        auto client = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");
        client->call({"stats"});
        return client;
      } catch (exc_t const&) {
      } catch (int) {
      } catch (unsigned long) {
      }
      if (auto const code = process.wait_for_exit(20ms)) {
        ADD_FAILURE() << "the server ended with " << *code << ": " << file_contents(outputs.back());
        return nullptr;
      }
    }
    ADD_FAILURE() << "the server did not answer: " << file_contents(outputs.back());
    return nullptr;
  }

  // Starts the server on the folder, after ending the one before, and connects to it.
  bool serve(std::vector<std::string> options = {}) {
    kv.reset();
    server.reset();
    server = start_server(folder, std::move(options));
    kv = connect(*server);
    return kv != nullptr;
  }

  // Runs the wygl_kv client program to its end: its exit code and output.
  std::pair<int, std::string> run_client(std::vector<std::string> args) {
    std::string const output = dir.file("client-" + std::to_string(++started) + ".out");
    args.insert(args.begin(), {"--service", service});
    child_process client(program_start{"wygl_kv", args, output});
    auto const code = client.wait_for_exit(exit_limit);
    EXPECT_TRUE(code.has_value()) << "wygl_kv did not end";
    std::string text = file_contents(output);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    return {code.value_or(-1), text};
  }

  loopback_services services;
  // The process id in the name keeps servers of tests that run at once apart: one server per
  // service name runs on a machine.
  std::string const service = services.add("kv-" + std::to_string(current_process_id()));
  temp_dir dir;
  std::string const folder = dir.file("data");
  std::vector<std::string> outputs;
  int started = 0;
  std::unique_ptr<server_process> server;  // the server of serve(), and
  std::unique_ptr<kv_client> kv;           // a connection to it
};

}  // namespace

TEST_F(KvService, AnswersEveryRequestKindAndGoesOnAfterAMalformedOne) {
  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"put", "greeting", "hello"}), "'ok' 1");
  EXPECT_EQ(reply_of(*kv, {"put", "wide", qmgl_value(wide(u"w\u00e9"))}), "'ok' 2");
  EXPECT_EQ(reply_of(*kv, {"put", "list", qmgl_value(array_list({1, bin({0xab}), true}))}),
            "'ok' 3");
  EXPECT_EQ(reply_of(*kv, {"get", "greeting"}), "'ok' 'hello'");
  EXPECT_EQ(reply_of(*kv, {"get", "wide"}), "'ok' \"w\xC3\xA9\"");
  EXPECT_EQ(reply_of(*kv, {"get", "list"}), "'ok' (1  , #ab , true )");
  EXPECT_EQ(reply_of(*kv, {"keys"}), "'ok' ('greeting' , 'list' , 'wide' )");
  EXPECT_EQ(reply_of(*kv, {"expire", "list", 3600}), "'ok' 4");
  EXPECT_EQ(reply_of(*kv, {"del", "wide"}), "'ok' 5");
  EXPECT_EQ(reply_of(*kv, {"get", "wide"}), "'not_found' 'wide'");
  EXPECT_EQ(reply_of(*kv, {"sync"}), "'ok' 5");
  EXPECT_EQ(reply_of(*kv, {"hello", qmgl_value(wide(u"abc-1")), 3}), "'ok' \"abc-1\" 3");

  EXPECT_EQ(kv_reply_text(kv->call_text("'put' 'k' 12x")), "'error' 'illegal input; before: <>'");
  EXPECT_EQ(kv_reply_text(kv->call_text("'get' 'a' 'b' 'c'")),
            "'error' 'get takes a key (an STR)'");
  EXPECT_EQ(kv_reply_text(kv->call_text("(")), "'error' 'unrecognized input; before: <>'");
  EXPECT_EQ(reply_of(*kv, {"get", "greeting"}), "'ok' 'hello'");
  EXPECT_EQ(reply_of(*kv, {"compact"}), "'ok' 2");

  std::string const stats = reply_of(*kv, {"stats"});
  EXPECT_NE(stats.find("'errors' , 3  , 'keys' , 2  , 'sequence' , 5  , 'written' , 5  , "
                       "'flushed' , 5  , 'compactions' , 2"),
            std::string::npos)
      << stats;
  EXPECT_NE(stats.find("(\"abc-1\"  , 3  , 6  )"), std::string::npos) << stats;
}

TEST_F(KvService, SixteenClientsAgreeWithAModelOfTheirKeys) {
  ASSERT_TRUE(serve());
  constexpr int clients = 16;
  constexpr int operations = 500;
  std::vector<std::future<std::map<std::string, std::string>>> done;
  for (int c = 0; c < clients; ++c) {
    done.push_back(std::async(std::launch::async, [this, c] {
      kv_client mine(service.c_str(), "127.0.0.1");
      std::mt19937 pick(static_cast<unsigned>(c) * 7919u + 1);
      std::map<std::string, std::string> model;  // key: the reply text of its get
      for (int i = 0; i < operations; ++i) {
        std::string const key = "c" + std::to_string(c) + ".k" + std::to_string(pick() % 12);
        unsigned const what = pick() % 10;
        if (what < 4) {
          qmgl_value value = what == 0   ? qmgl_value(static_cast<int>(pick()))
                             : what == 1 ? qmgl_value(("s" + std::to_string(i)).c_str())
                                         : bin({static_cast<unsigned char>(i), 0x7f});
          std::vector<qmgl_value> const reply = mine.call({"put", key.c_str(), value});
          if (std::strcmp(reply.at(0).as_charp(), "ok") != 0) return model;
          model[key] = "'ok' " + kv_reply_text({value});
        } else if (what < 6) {
          bool const present = model.erase(key) == 1;
          std::string const reply = kv_reply_text(mine.call({"del", key.c_str()}));
          if ((reply.rfind("'ok' ", 0) == 0) != present) model[key] = "del gave " + reply;
        } else {
          std::string const expected =
              model.count(key) != 0 ? model[key] : "'not_found' '" + key + "'";
          std::string const reply = kv_reply_text(mine.call({"get", key.c_str()}));
          if (reply != expected) model[key] = "get gave " + reply + ", not " + expected;
        }
      }
      return model;
    }));
  }
  std::size_t expected_keys = 0;  // every key a model holds: present, or a mismatch to show
  for (int c = 0; c < clients; ++c) {
    ASSERT_EQ(done[c].wait_for(120s), std::future_status::ready);
    std::map<std::string, std::string> const model = done[c].get();
    for (auto const& [key, reply] : model)
      EXPECT_EQ(reply_of(*kv, {"get", key.c_str()}), reply) << key;
    expected_keys += model.size();
  }
  EXPECT_EQ(stat_of(*kv, "keys"), static_cast<int>(expected_keys));
  EXPECT_EQ(stat_of(*kv, "errors"), 0);
  // serve()'s first stats, the clients' operations, the gets above and three stats.
  EXPECT_EQ(stat_of(*kv, "requests"),
            1 + clients * operations + static_cast<int>(expected_keys) + 3);
}

TEST_F(KvService, ACleanStopKeepsEveryChange) {
  ASSERT_TRUE(serve());
  for (int i = 0; i < 100; ++i)
    reply_of(*kv, {"put", ("k" + std::to_string(i)).c_str(), i});
  reply_of(*kv, {"put", "text", "it's"});
  // A connection that stays open and idle does not hold the stop up.
  if (!server->ask_to_stop()) GTEST_SKIP() << "no stop request can be sent to a program here";
  ASSERT_EQ(server->wait_for_exit(exit_limit), std::optional<int>(0))
      << file_contents(outputs.back());
  EXPECT_NE(file_contents(outputs.back()).find("stopped; changes up to 101 are on disk"),
            std::string::npos)
      << file_contents(outputs.back());

  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"get", "k99"}), "'ok' 99");
  EXPECT_EQ(reply_of(*kv, {"get", "text"}), "'ok' 'it''s'");
  EXPECT_EQ(stat_of(*kv, "keys"), 101);
  EXPECT_NE(file_contents(outputs.back()).find("replayed 102 records"), std::string::npos)
      << file_contents(outputs.back());
}

TEST_F(KvService, AKillDuringAWriteBurstLosesNoSyncedChange) {
  ASSERT_TRUE(serve());
  std::mutex acked_guard;
  std::condition_variable acked;
  std::map<int, std::uint32_t> seq_of_put;  // put number: the sequence number it was given
  auto writer = std::async(std::launch::async, [&] {
    try {
      kv_client burst(service.c_str(), "127.0.0.1");
      for (int i = 0;; ++i) {
        std::vector<qmgl_value> const reply =
            burst.call({"put", ("burst." + std::to_string(i)).c_str(), i});
        std::lock_guard<std::mutex> hold(acked_guard);
        seq_of_put[i] = static_cast<std::uint32_t>(reply.at(1).as_int());
        acked.notify_all();
      }
    } catch (...) {
      // The server was killed.
    }
  });
  auto const acknowledged = [&](std::size_t count) {
    std::unique_lock<std::mutex> hold(acked_guard);
    return acked.wait_for(hold, 60s, [&] { return seq_of_put.size() >= count; });
  };
  ASSERT_TRUE(acknowledged(300));
  std::uint32_t const synced = static_cast<std::uint32_t>(kv->call({"sync"}).at(1).as_int());
  ASSERT_TRUE(acknowledged(600));  // the kill comes in the middle of the burst
  server->kill();
  ASSERT_EQ(writer.wait_for(60s), std::future_status::ready);

  ASSERT_TRUE(serve());
  std::string const replay = file_contents(outputs.back());
  EXPECT_EQ(replay.find("dropped"), std::string::npos) << replay;
  int checked = 0;
  for (auto const& [i, seq] : seq_of_put) {
    if (seq > synced) continue;
    ASSERT_EQ(reply_of(*kv, {"get", ("burst." + std::to_string(i)).c_str()}),
              "'ok' " + std::to_string(i));
    ++checked;
  }
  EXPECT_GE(checked, 300);
  EXPECT_GE(stat_of(*kv, "sequence"), static_cast<int>(synced));
}

TEST_F(KvService, AKeyExpiresAndTheExpiryPassDropsIt) {
  ASSERT_TRUE(serve());
  reply_of(*kv, {"put", "brief", 1});
  reply_of(*kv, {"put", "lasting", 2});
  EXPECT_EQ(reply_of(*kv, {"expire", "brief", 1}), "'ok' 3");
  auto const deadline = std::chrono::steady_clock::now() + 30s;
  while (reply_of(*kv, {"get", "brief"}) != "'not_found' 'brief'" &&
         std::chrono::steady_clock::now() < deadline)
    server->wait_for_exit(50ms);
  EXPECT_EQ(reply_of(*kv, {"get", "brief"}), "'not_found' 'brief'");
  EXPECT_EQ(reply_of(*kv, {"keys"}), "'ok' ('lasting' )");
  EXPECT_EQ(stat_of(*kv, "keys"), 1);
  // Gone after a restart too: the deadline is in the log.
  server->kill();
  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"get", "brief"}), "'not_found' 'brief'");
  EXPECT_EQ(reply_of(*kv, {"get", "lasting"}), "'ok' 2");
}

TEST_F(KvService, CompactionRunsByItselfAndTheCompactedLogReplays) {
  ASSERT_TRUE(serve({"--compact-seconds", "1"}));
  for (int i = 0; i < 300; ++i)
    reply_of(*kv, {"put", "counter", i});
  reply_of(*kv, {"put", "other", "x"});
  int const at_start = stat_of(*kv, "compactions");
  auto const deadline = std::chrono::steady_clock::now() + 30s;
  while (stat_of(*kv, "compactions") < at_start + 1 && std::chrono::steady_clock::now() < deadline)
    server->wait_for_exit(50ms);
  ASSERT_GE(stat_of(*kv, "compactions"), at_start + 1);
  reply_of(*kv, {"sync"});
  EXPECT_LT(std::filesystem::file_size(folder + "/kv.log"), 300u);
  server->kill();
  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"get", "counter"}), "'ok' 299");
  EXPECT_EQ(reply_of(*kv, {"get", "other"}), "'ok' 'x'");
  EXPECT_EQ(stat_of(*kv, "sequence"), 301);
}

TEST_F(KvService, OneServerPerServiceNameAndAKilledOneDoesNotBlockTheNext) {
  ASSERT_TRUE(serve());
  auto second = start_server(dir.file("other"));
  ASSERT_EQ(second->wait_for_exit(exit_limit), std::optional<int>(3));
  EXPECT_EQ(
      file_contents(outputs.back())
          .rfind("wygl_kv_server: another server already serves '" + service + "' on this machine",
                 0),
      0u)
      << file_contents(outputs.back());
  server->kill();
  // The killed server's lock goes with it (or is found abandoned): the next one starts.
  ASSERT_TRUE(serve());
}

TEST_F(KvService, TheClientProgramGivesUpOnAServerThatNeverAnswers) {
  // A listening socket that never accepts: the connection stands in its backlog and the
  // request is sent, but no reply comes.
  std::string const silent = services.add("silent");
  qmgl_socket_factory listener(silent.c_str(), qmgl_socket_factory::tcp);
  auto const gave_up = run_client({"--service", silent, "--timeout", "1", "get", "k"});
  EXPECT_EQ(gave_up, std::make_pair(2, "wygl_kv: no whole reply from service '" + silent +
                                           "' on 127.0.0.1 within 1 s"));

  for (char const* bad_time : {"soon", "5x", "-1", "86401"}) {
    auto const bad = run_client({"--timeout", bad_time, "get", "k"});
    EXPECT_EQ(bad.first, 64);
    EXPECT_EQ(bad.second.rfind("wygl_kv: the time-out is no whole number of seconds", 0), 0u)
        << bad.second;
  }
}

TEST_F(KvService, TheClientProgramPrintsRepliesAndReportsADeadServer) {
  ASSERT_TRUE(serve());
  EXPECT_EQ(run_client({"put", "greeting", "'hello'"}), std::make_pair(0, std::string("'ok' 1")));
  EXPECT_EQ(run_client({"put", "n", "(1, #00ff, \"x\")"}),
            std::make_pair(0, std::string("'ok' 2")));
  EXPECT_EQ(run_client({"get", "greeting"}), std::make_pair(0, std::string("'ok' 'hello'")));
  EXPECT_EQ(run_client({"get", "n"}),
            std::make_pair(0, std::string("'ok' (1  , #00ff , \"x\"  )")));
  EXPECT_EQ(run_client({"expire", "greeting", "30"}), std::make_pair(0, std::string("'ok' 3")));
  EXPECT_EQ(run_client({"get", "nothing"}),
            std::make_pair(1, std::string("'not_found' 'nothing'")));
  EXPECT_EQ(run_client({"raw", "'get'", "12x"}),
            std::make_pair(1, std::string("'error' 'illegal input; before: <>'")));
  auto const usage = run_client({"put", "k", "nope"});
  EXPECT_EQ(usage.first, 64);
  EXPECT_NE(usage.second.find("unrecognized keyword"), std::string::npos) << usage.second;
  std::string const arity = run_client({"get", "a", "b"}).second;
  EXPECT_EQ(arity.substr(0, arity.find_first_of("\r\n")), "wygl_kv: get takes one key");
  EXPECT_EQ(run_client({"--help"}).first, 0);
  // With --id the hello goes first on the same connection: stats shows the identity.
  std::string const id = "0c4a0fd2-5b36-4a8e-9a53-f1f4f0a5e7d1";
  auto const stats = run_client({"--id", id, "stats"});
  EXPECT_NE(stats.second.find("(\"" + id + "\"  , 1  , 1  )"), std::string::npos) << stats.second;
  server->end();
  auto const dead = run_client({"get", "greeting"});
  EXPECT_EQ(dead.first, 2);
  EXPECT_EQ(dead.second.rfind("wygl_kv: cannot reach service '" + service + "' on 127.0.0.1: ", 0),
            0u)
      << dead.second;
  EXPECT_EQ(dead.second.find('\n'), std::string::npos) << dead.second;
}

TEST_F(KvService, AnUnknownServiceIsNamedAndNothingIsCreated) {
  std::string const unknown = "no-such-service-" + std::to_string(current_process_id());
  std::string const output = dir.file("unknown.out");
  child_process server_run(program_start{"wygl_kv_server", {unknown, folder}, output});
  ASSERT_EQ(server_run.wait_for_exit(exit_limit), std::optional<int>(1));
  EXPECT_EQ(file_contents(output).rfind("wygl_kv_server: unknown service '" + unknown +
                                            "': it is neither in the file that WYGL_SERVICES "
                                            "names (" +
                                            services.file() + ")",
                                        0),
            0u)
      << file_contents(output);
  EXPECT_FALSE(std::filesystem::exists(folder));
  auto const client = run_client({"--service", unknown, "get", "k"});
  EXPECT_EQ(client.first, 2);
  EXPECT_EQ(client.second.rfind("wygl_kv: unknown service '" + unknown + "'", 0), 0u)
      << client.second;
  child_process help(program_start{"wygl_kv_server", {"--help"}, output});
  EXPECT_EQ(help.wait_for_exit(exit_limit), std::optional<int>(0));
  EXPECT_EQ(file_contents(output).rfind("usage: wygl_kv_server", 0), 0u);
}

// A request over the limit is answered with an error before anything of it is applied, and
// every change acknowledged before and after it is there after a restart.
TEST_F(KvService, APutOverTheRequestLimitIsRefusedAndNothingIsLost) {
  ASSERT_TRUE(serve({"--max-request-bytes", "4096"}));
  EXPECT_EQ(reply_of(*kv, {"put", "before", 1}), "'ok' 1");
  std::string const big(20000, 'b');
  EXPECT_EQ(reply_of(*kv, {"put", "big", big.c_str()}),
            "'error' 'RPC message longer than the limit of 4096 bytes'");
  kv_client after(service.c_str(), "127.0.0.1");  // the refused request's connection is closed
  EXPECT_EQ(reply_of(after, {"put", "after", 3}), "'ok' 2");
  EXPECT_EQ(reply_of(after, {"sync"}), "'ok' 2");  // a kill loses only what is not written
  server->kill();
  ASSERT_TRUE(serve({"--max-request-bytes", "4096"}));
  EXPECT_EQ(reply_of(*kv, {"get", "before"}), "'ok' 1");
  EXPECT_EQ(reply_of(*kv, {"get", "after"}), "'ok' 3");
  EXPECT_EQ(reply_of(*kv, {"get", "big"}), "'not_found' 'big'");
}

TEST_F(KvService, ALogDamagedBeforeItsEndIsLeftAsItIsAndTheServerDoesNotStart) {
  ASSERT_TRUE(serve());
  for (char const* key : {"a", "b", "c"})
    reply_of(*kv, {"put", key, key});
  reply_of(*kv, {"sync"});
  server->kill();
  std::string const log = folder + "/kv.log";
  std::string text = file_contents(log);
  std::size_t const damage = text.find("'b' 'b'");
  ASSERT_NE(damage, std::string::npos) << text;
  text[damage + 5] = 'B';
  write_file(log, text);
  std::size_t const record = text.rfind('\n', damage) + 1;
  auto refused = start_server(folder);
  ASSERT_EQ(refused->wait_for_exit(exit_limit), std::optional<int>(1));
  EXPECT_NE(file_contents(outputs.back())
                .find("kv.log is damaged at byte " + std::to_string(record) +
                      " (record whose checksum does not match) and whole records follow"),
            std::string::npos)
      << file_contents(outputs.back());
  EXPECT_EQ(file_contents(log), text);
}

// A client that asks for a long value and never reads the reply holds its send; the stop
// gives it the grace period and then ends with the final flush and exit code 0.
TEST_F(KvService, AClientThatNeverReadsDoesNotHoldTheStop) {
  ASSERT_TRUE(serve({"--grace-seconds", "1"}));
  std::string const big(8 << 20, 'v');  // more than the loopback buffers hold
  EXPECT_EQ(reply_of(*kv, {"put", "big", big.c_str()}), "'ok' 1");
  int const requests = stat_of(*kv, "requests");
  qmgl_socket hog(service.c_str(), "127.0.0.1");
  char get[] = "'get' 'big'";
  hog.write(get, sizeof get);  // with its 0x00
  auto const deadline = std::chrono::steady_clock::now() + start_limit;
  while (stat_of(*kv, "requests") < requests + 2 && std::chrono::steady_clock::now() < deadline)
    server->wait_for_exit(20ms);
  if (!server->ask_to_stop()) GTEST_SKIP() << "no stop request can be sent to a program here";
  ASSERT_EQ(server->wait_for_exit(exit_limit), std::optional<int>(0))
      << file_contents(outputs.back());
  std::string const said = file_contents(outputs.back());
  EXPECT_NE(said.find(" connections still open end with the process"), std::string::npos) << said;
  EXPECT_NE(said.find("stopped; changes up to 1 are on disk"), std::string::npos) << said;
}

TEST_F(KvService, ConnectionsOverTheCapAreAnsweredAndClosed) {
  ASSERT_TRUE(serve({"--max-connections", "2"}));
  auto second = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(*second, {"put", "k", 1}), "'ok' 1");
  kv_client third(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(third, {"get", "k"}),
            "'error' 'the server has its maximum of 2 connections open'");
  second.reset();  // a place becomes free once its thread has ended
  std::string reply;
  auto const deadline = std::chrono::steady_clock::now() + start_limit;
  while (reply != "'ok' 1" && std::chrono::steady_clock::now() < deadline) {
    if (server->wait_for_exit(20ms)) break;
    reply = reply_of(*std::make_unique<kv_client>(service.c_str(), "127.0.0.1"), {"get", "k"});
  }
  EXPECT_EQ(reply, "'ok' 1");
}

TEST_F(KvService, AnIdleConnectionIsClosed) {
  ASSERT_TRUE(serve({"--idle-seconds", "1"}));
  kv_client idle(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(idle, {"put", "k", 1}), "'ok' 1");
  // Fresh connections look on until the idle ones are gone.
  auto const open_now = [this] {
    kv_client look(service.c_str(), "127.0.0.1");
    return stat_of(look, "open");
  };
  auto const deadline = std::chrono::steady_clock::now() + start_limit;
  int open = open_now();
  for (; open > 1 && std::chrono::steady_clock::now() < deadline; open = open_now())
    server->wait_for_exit(50ms);
  EXPECT_EQ(open, 1);  // the looking connection alone
  bool closed = false;
  try {
    idle.call({"get", "k"});
  } catch (int) {
    closed = true;  // the server closed the connection
  } catch (unsigned long) {
    closed = true;  // or reset it
  } catch (exc_t const&) {
    closed = true;  // or the request could not go out
  }
  EXPECT_TRUE(closed);
}
