// The key-value example service as its users run it: the real wygl_kv_server program, started
// as a process on a free loopback port, driven through the RPC layer and the wygl_kv client
// program.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
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
constexpr auto time_limit = 60s;

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

// Polls until done() or the time limit, ending early when process ends.
template <class Done>
bool wait_until(child_process& process, Done const& done) {
  auto const deadline = std::chrono::steady_clock::now() + time_limit;
  while (!done())
    if (std::chrono::steady_clock::now() > deadline || process.wait_for_exit(20ms)) return false;
  return true;
}

// A server process that is asked to stop, and waited for, when it goes out of scope, so that
// it leaves nothing behind; where no stop can be asked for (Windows), it is killed, and the
// system removes what it held.
class server_process : public child_process {
 public:
  using child_process::child_process;
  ~server_process() {
    if (ask_to_stop()) wait_for_exit(time_limit);
  }
};

class KvService : public ::testing::Test {
 protected:
  // Starts wygl_kv_server with the arguments; its output goes to a file of its own, said().
  std::unique_ptr<server_process> start_server(std::vector<std::string> args) {
    outputs.push_back(dir.file("server-" + std::to_string(outputs.size()) + ".out"));
    return std::make_unique<server_process>(program_start{"wygl_kv_server", args, outputs.back()});
  }
  std::string said() const { return file_contents(outputs.back()); }

  // Starts the server with the options on the folder, after ending the one before, and
  // connects to it once it answers.
  bool serve(std::vector<std::string> options = {}) {
    kv.reset();
    server.reset();
    options.insert(options.end(), {service, folder});
    server = start_server(options);
    wait_until(*server, [this] {
      try {
        kv = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");
        kv->call({"stats"});
        return true;
      } catch (...) {  // exc_t, or the codes of a closed or reset connection
        kv.reset();
        return false;
      }
    });
    EXPECT_TRUE(kv) << said();
    return kv != nullptr;
  }

  // Runs the wygl_kv client program to its end: its exit code and output.
  std::pair<int, std::string> run_client(std::vector<std::string> args) {
    std::string const output = dir.file("client.out");
    args.insert(args.begin(), {"--service", service});
    child_process client(program_start{"wygl_kv", args, output});
    auto const code = client.wait_for_exit(time_limit);
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
  std::unique_ptr<server_process> server;  // the server of serve(), and
  std::unique_ptr<kv_client> kv;           // a connection to it
};

}  // namespace

// Clients at once, each with keys of its own, agree with a model of their keys; a malformed
// request gets an error and the connection goes on.
TEST_F(KvService, ClientsAtOnceAgreeWithAModelOfTheirKeys) {
  ASSERT_TRUE(serve());
  EXPECT_EQ(kv_reply_text(kv->call_text("(")), "'error' 'unrecognized input; before: <>'");
  EXPECT_EQ(reply_of(*kv, {"put", "wide", qmgl_value(wide(u"w\u00e9"))}), "'ok' 1");
  EXPECT_EQ(reply_of(*kv, {"get", "wide"}), "'ok' \"w\xC3\xA9\"");
  constexpr int clients = 16;
  constexpr int operations = 300;
  std::vector<std::future<std::map<std::string, std::string>>> done;
  for (int c = 0; c < clients; ++c) {
    done.push_back(std::async(std::launch::async, [this, c] {
      kv_client mine(service.c_str(), "127.0.0.1");
      std::map<std::string, std::string> model;  // key: the reply of its get
      for (int i = 0; i < operations; ++i) {
        std::string const key = "c" + std::to_string(c) + ".k" + std::to_string(i * 7 % 12);
        std::string expected = model.count(key) != 0 ? model[key] : "'not_found' '" + key + "'";
        if (i % 3 == 0) {
          model.erase(key);
          expected = expected[1] == 'o' ? "'ok' " : expected;
          std::string const reply = reply_of(mine, {"del", key.c_str()});
          if (reply.substr(0, expected.size()) != expected) model[key] = "del gave " + reply;
        } else if (i % 3 == 1) {
          qmgl_value const value = i % 2 ? qmgl_value(i) : bin({static_cast<unsigned char>(i)});
          if (reply_of(mine, {"put", key.c_str(), value}).rfind("'ok' ", 0) != 0) return model;
          model[key] = "'ok' " + kv_reply_text({value});
        } else if (std::string const reply = reply_of(mine, {"get", key.c_str()});
                   reply != expected) {
          model[key] = "get gave " + reply + ", not " + expected;
        }
      }
      return model;
    }));
  }
  int keys = 1;  // every key a model holds, and wide
  for (auto& client : done) {
    ASSERT_EQ(client.wait_for(120s), std::future_status::ready);
    for (auto const& [key, reply] : client.get()) {
      EXPECT_EQ(reply_of(*kv, {"get", key.c_str()}), reply) << key;
      ++keys;
    }
  }
  EXPECT_EQ(stat_of(*kv, "keys"), keys);
  EXPECT_EQ(stat_of(*kv, "errors"), 1);
  EXPECT_EQ(stat_of(*kv, "requests"), 1 + 3 + clients * operations + keys - 1 + 3);
}

// A stop gives a client that asked for a long value and never reads the reply the grace
// period, and a connection that stays idle does not hold it either; every change is on disk.
TEST_F(KvService, AStopWaitsForNoClientAndKeepsEveryChange) {
  ASSERT_TRUE(serve({"--grace-seconds", "1"}));
  for (int i = 0; i < 100; ++i)
    reply_of(*kv, {"put", ("k" + std::to_string(i)).c_str(), i});
  std::string const big(8 << 20, 'v');  // more than the loopback buffers hold
  EXPECT_EQ(reply_of(*kv, {"put", "big", big.c_str()}), "'ok' 101");
  int const requests = stat_of(*kv, "requests");
  qmgl_socket hog(service.c_str(), "127.0.0.1");
  char get[] = "'get' 'big'";
  hog.write(get, sizeof get);  // with its 0x00
  ASSERT_TRUE(wait_until(*server, [&] { return stat_of(*kv, "requests") >= requests + 2; }));
  if (!server->ask_to_stop()) GTEST_SKIP() << "no stop request can be sent to a program here";
  ASSERT_EQ(server->wait_for_exit(time_limit), std::optional<int>(0)) << said();
  EXPECT_NE(said().find(" connections still open end with the process"), std::string::npos);
  EXPECT_NE(said().find("stopped; changes up to 101 are on disk"), std::string::npos) << said();

  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"get", "k99"}), "'ok' 99");
  EXPECT_EQ(stat_of(*kv, "keys"), 101);
  EXPECT_NE(said().find("replayed 102 records"), std::string::npos) << said();
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
    } catch (...) {  // the server was killed
    }
  });
  auto const acknowledged = [&](std::size_t count) {
    std::unique_lock<std::mutex> hold(acked_guard);
    return acked.wait_for(hold, time_limit, [&] { return seq_of_put.size() >= count; });
  };
  ASSERT_TRUE(acknowledged(300));
  auto const synced = static_cast<std::uint32_t>(kv->call({"sync"}).at(1).as_int());
  ASSERT_TRUE(acknowledged(600));  // the kill comes in the middle of the burst
  server->kill();
  ASSERT_EQ(writer.wait_for(time_limit), std::future_status::ready);

  ASSERT_TRUE(serve());
  EXPECT_EQ(said().find("dropped"), std::string::npos) << said();
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

// The timer's passes: a key is gone at its deadline and dropped, the log is compacted, and
// the compacted log replays after a kill.
TEST_F(KvService, TheTimerExpiresKeysAndCompactsTheLog) {
  ASSERT_TRUE(serve({"--compact-seconds", "1"}));
  for (int i = 0; i < 300; ++i)
    reply_of(*kv, {"put", "counter", i});
  reply_of(*kv, {"put", "brief", "x"});
  EXPECT_EQ(reply_of(*kv, {"expire", "brief", 1}), "'ok' 302");
  int const compactions = stat_of(*kv, "compactions");
  ASSERT_TRUE(wait_until(*server, [&] {
    return stat_of(*kv, "compactions") > compactions && stat_of(*kv, "keys") == 1;
  }));
  EXPECT_EQ(reply_of(*kv, {"keys"}), "'ok' ('counter' )");
  reply_of(*kv, {"sync"});
  EXPECT_LT(std::filesystem::file_size(folder + "/kv.log"), 300u);
  server->kill();
  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"get", "counter"}), "'ok' 299");
  EXPECT_EQ(reply_of(*kv, {"get", "brief"}), "'not_found' 'brief'");
  EXPECT_EQ(stat_of(*kv, "sequence"), 302);
}

// A server that cannot serve says why, in one line, and exits: a second server of the same
// service; a log damaged before its end, which stays as it is (the killed server's lock does
// not block this start); a service that neither the services file nor the system knows,
// before anything is created.
TEST_F(KvService, AServerThatCannotServeSaysWhyAndExits) {
  ASSERT_TRUE(serve());
  for (char const* key : {"a", "b", "c"})
    reply_of(*kv, {"put", key, key});
  reply_of(*kv, {"sync"});
  std::string const unknown = "no-such-service-" + std::to_string(current_process_id());
  auto const refused = [this](std::vector<std::string> args, int code, std::string text) {
    auto const other = start_server(std::move(args));
    EXPECT_EQ(other->wait_for_exit(time_limit), std::optional<int>(code)) << said();
    EXPECT_NE(said().find(text), std::string::npos) << said();
  };
  refused({service, dir.file("other")}, 3,
          "wygl_kv_server: another server already serves '" + service + "' on this machine");
  server->kill();
  std::string const log = folder + "/kv.log";
  std::string text = file_contents(log);
  std::size_t const damage = text.find("'b' 'b'");
  ASSERT_NE(damage, std::string::npos) << text;
  text[damage + 5] = 'B';
  write_file(log, text);
  refused({service, folder}, 1,
          "kv.log is damaged at byte " + std::to_string(text.rfind('\n', damage) + 1) +
              " (record whose checksum does not match) and whole records follow");
  EXPECT_EQ(file_contents(log), text);
  refused({unknown, dir.file("unknown")}, 1,
          "wygl_kv_server: unknown service '" + unknown +
              "': it is neither in the file that WYGL_SERVICES names (" + services.file() + ")");
  EXPECT_FALSE(std::filesystem::exists(dir.file("unknown")));
  refused({"--help"}, 0, "usage: wygl_kv_server");
}

TEST_F(KvService, TheClientProgramPrintsRepliesAndSaysWhatFailed) {
  ASSERT_TRUE(serve());
  // A listening socket that never accepts: the request goes to its backlog, no reply comes.
  std::string const silent = services.add("silent");
  qmgl_socket_factory listener(silent.c_str(), qmgl_socket_factory::tcp);
  std::string const nobody = services.add("nobody");
  std::string const unknown = "no-such-service-" + std::to_string(current_process_id());
  std::string const id = "0c4a0fd2-5b36-4a8e-9a53-f1f4f0a5e7d1";
  enum { whole, start, line, part };  // the output is, starts with, is one line from, holds
  struct {
    std::vector<std::string> args;
    int code;
    std::string output;
    int match;
  } const cases[] = {
      {{"put", "greeting", "'hello'"}, 0, "'ok' 1", whole},
      {{"put", "n", "(1, #00ff, \"x\")"}, 0, "'ok' 2", whole},
      {{"get", "n"}, 0, "'ok' (1  , #00ff , \"x\"  )", whole},
      {{"expire", "greeting", "30"}, 0, "'ok' 3", whole},
      {{"get", "nothing"}, 1, "'not_found' 'nothing'", whole},
      {{"raw", "'get'", "12x"}, 1, "'error' 'illegal input; before: <>'", whole},
      {{"--id", id, "stats"}, 0, "(\"" + id + "\"  , 1  , 1  )", part},  // said hello first
      {{"--help"}, 0, "usage: wygl_kv", part},
      {{"put", "k", "nope"}, 64, "unrecognized keyword", part},
      {{"get", "a", "b"}, 64, "wygl_kv: get takes one key", start},
      {{"--timeout", "soon", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", part},
      {{"--timeout", "5x", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", part},
      {{"--timeout", "-1", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", part},
      {{"--timeout", "86401", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", part},
      {{"--service", silent, "--timeout", "1", "get", "k"},
       2,
       "wygl_kv: no whole reply from service '" + silent + "' on 127.0.0.1 within 1 s",
       whole},
      {{"--service", nobody, "get", "k"},
       2,
       "wygl_kv: cannot reach service '" + nobody + "' on 127.0.0.1: ",
       line},
      {{"--service", unknown, "get", "k"}, 2, "wygl_kv: unknown service '" + unknown + "'", line},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.args.back());
    auto const [code, output] = run_client(c.args);
    EXPECT_EQ(code, c.code);
    std::size_t const at = output.find(c.output);
    EXPECT_TRUE(c.match == whole ? output == c.output
                : c.match == part
                    ? at != std::string::npos
                    : at == 0 && (c.match == start || output.find('\n') == std::string::npos))
        << output;
  }
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

TEST_F(KvService, ConnectionsOverTheCapAreAnsweredAndClosed) {
  ASSERT_TRUE(serve({"--max-connections", "2"}));
  auto second = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(*second, {"put", "k", 1}), "'ok' 1");
  kv_client third(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(third, {"get", "k"}),
            "'error' 'the server has its maximum of 2 connections open'");
  second.reset();  // a place becomes free once its thread has ended
  EXPECT_TRUE(wait_until(*server, [this] {
    return reply_of(*std::make_unique<kv_client>(service.c_str(), "127.0.0.1"), {"get", "k"}) ==
           "'ok' 1";
  }));
}

TEST_F(KvService, AnIdleConnectionIsClosed) {
  ASSERT_TRUE(serve({"--idle-seconds", "1"}));
  kv_client idle(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(idle, {"put", "k", 1}), "'ok' 1");
  // Fresh connections look on until the idle ones are gone: the looking one alone is open.
  EXPECT_TRUE(wait_until(*server, [this] {
    kv_client look(service.c_str(), "127.0.0.1");
    return stat_of(look, "open") == 1;
  }));
  EXPECT_ANY_THROW(idle.call({"get", "k"}));  // closed, reset, or the request cannot go out
}
