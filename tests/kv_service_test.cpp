// The key-value example service as its users run it: the real wygl_kv_server program on a free
// loopback port, driven through the RPC layer and the wygl_kv client program.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_socket.h>

#include "kv_client.h"
#include "support/child_process.h"
#include "support/loopback_services.h"
#include "support/temp_dir.h"
#include "support/value_helpers.h"

namespace {

using namespace std::chrono_literals;
constexpr auto time_limit = 60s;        // a server under a sanitizer or Wine starts slowly
constexpr int reply_wait_seconds = 30;  // for each read of a reply

std::string reply_of(kv_client& kv, std::vector<qmgl_value> const& request) {
  return kv_reply_text(kv.call(request));
}

// A number that 'stats' reports (-1 for none: a refused connection).
int stat_of(kv_client& kv, std::string const& name) {
  std::string const stats = reply_of(kv, {"stats"});
  std::size_t const at = stats.find("'" + name + "' , ");
  return at == std::string::npos ? -1 : std::stoi(stats.substr(at + name.size() + 5));
}

// Polls until done() or the time limit, ending early when process ends.
template <class Done>
bool wait_until(child_process& process, Done const& done) {
  auto const deadline = std::chrono::steady_clock::now() + time_limit;
  while (!done())
    if (std::chrono::steady_clock::now() > deadline || process.wait_for_exit(20ms)) return false;
  return true;
}

// Stopped at its end, leaving nothing behind (killed on Windows, which removes what it held).
struct server_process : child_process {
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

  // Starts a server with the options on the folder, after the one before, and connects.
  bool serve(std::vector<std::string> options = {}) {
    kv.reset();
    server.reset();
    options.insert(options.end(), {service, folder});
    server = start_server(options);
    wait_until(*server, [this] {
      try {
        kv = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");
        kv->limit_reply_wait(reply_wait_seconds);
        return stat_of(*kv, "keys") >= 0;
      } catch (...) {  // exc_t, or the codes of a closed or reset connection
        kv.reset();
        return false;
      }
    });
    EXPECT_TRUE(kv) << said();
    return kv != nullptr;
  }

  loopback_services services;
  // One server per service name runs on a machine: the process id keeps test runs apart.
  std::string const service = services.add("kv-" + std::to_string(current_process_id()));
  temp_dir dir;
  std::string const folder = dir.file("data");
  std::string const unknown = "no-such-service-" + std::to_string(current_process_id());
  std::vector<std::string> outputs;
  std::unique_ptr<server_process> server;
  std::unique_ptr<kv_client> kv;  // connected to server
};

}  // namespace

// A stop gives a client that asked for a long value and never reads the reply the grace
// period, and a connection that stays idle does not hold it either; every change is on disk.
TEST_F(KvService, AStopWaitsForNoClientAndKeepsEveryChange) {
  ASSERT_TRUE(serve({"--grace-seconds", "1"}));
  reply_of(*kv, {"put", "k", 1});
  // More than the loopback buffers hold.
  EXPECT_EQ(reply_of(*kv, {"put", "big", std::string(8 << 20, 'v').c_str()}), "'ok' 2");
  int const requests = stat_of(*kv, "requests");
  qmgl_socket hog(service.c_str(), "127.0.0.1");
  char get[] = "'get' 'big'";
  hog.write(get, sizeof get);  // with its 0x00
  ASSERT_TRUE(wait_until(*server, [&] { return stat_of(*kv, "requests") >= requests + 2; }));
  if (!server->ask_to_stop()) GTEST_SKIP() << "no stop request can be sent to a program here";
  ASSERT_EQ(server->wait_for_exit(time_limit), std::optional<int>(0)) << said();
  EXPECT_NE(said().find(" connections still open end with the process"), std::string::npos);
  EXPECT_NE(said().find("stopped; changes up to 2 are on disk"), std::string::npos) << said();
  ASSERT_TRUE(serve());
  EXPECT_EQ(reply_of(*kv, {"keys"}), "'ok' ('big' , 'k' )");
  EXPECT_NE(said().find("replayed 3 records"), std::string::npos) << said();
}

// Writers at once read their own puts; a kill in their burst loses no synced change, while the
// timer drops a key at its deadline and compacts the log. A request over the limit or a
// malformed one is answered with an error before anything of it is applied.
TEST_F(KvService, AKillDuringAWriteBurstLosesNoSyncedChange) {
  ASSERT_TRUE(serve({"--compact-seconds", "1", "--max-request-bytes", "4096"}));
  EXPECT_EQ(kv_reply_text(kv->call_text("(")), "'error' 'unrecognized input; before: <>'");
  EXPECT_EQ(reply_of(*kv, {"put", "wide", qmgl_value(wide(u"w\u00e9"))}), "'ok' 1");
  reply_of(*kv, {"put", "brief", "x"});
  EXPECT_EQ(reply_of(*kv, {"expire", "brief", 1}), "'ok' 3");
  EXPECT_EQ(reply_of(*kv, {"put", "big", std::string(20000, 'b').c_str()}),
            "'error' 'RPC message longer than the limit of 4096 bytes'");
  kv = std::make_unique<kv_client>(service.c_str(), "127.0.0.1");  // that one is closed
  kv->limit_reply_wait(reply_wait_seconds);
  int const compactions = stat_of(*kv, "compactions");
  std::atomic<int> acked{0}, wrong{0};
  std::vector<std::vector<int>> seqs(8);  // of each writer's puts
  std::vector<std::future<void>> writers;
  for (std::size_t w = 0; w < seqs.size(); ++w)
    writers.push_back(std::async(std::launch::async, [&, w] {
      try {
        kv_client mine(service.c_str(), "127.0.0.1");
        // Wine can keep a killed server's end of a connection open: a read would wait for ever.
        mine.limit_reply_wait(5);
        for (int i = 0;; ++i, ++acked) {
          std::string const key = std::to_string(w) + "." + std::to_string(i);
          seqs[w].push_back(mine.call({"put", key.c_str(), i}).at(1).as_int());
          wrong += reply_of(mine, {"get", key.c_str()}) != "'ok' " + std::to_string(i);
        }
      } catch (...) {  // the server was killed
      }
    }));
  bool const timer_ran = wait_until(*server, [&] {
    return acked >= 300 && stat_of(*kv, "compactions") > compactions + 1 &&
           reply_of(*kv, {"get", "brief"}) == "'not_found' 'brief'";
  });
  int const synced = kv->call({"sync"}).at(1).as_int(), mid_burst = acked + 300;
  bool const burst_ran = wait_until(*server, [&] { return acked >= mid_burst; });
  server->kill();  // before any return, which would wait for the writers
  for (auto& writer : writers)
    ASSERT_EQ(writer.wait_for(time_limit), std::future_status::ready);
  ASSERT_TRUE(timer_ran && burst_ran);
  EXPECT_EQ(wrong, 0);
  ASSERT_TRUE(serve());
  EXPECT_EQ(said().find("dropped"), std::string::npos) << said();
  int checked = 0;
  for (std::size_t w = 0; w < seqs.size(); ++w)
    for (int i = 0; i < static_cast<int>(seqs[w].size()) && seqs[w][i] <= synced; ++i, ++checked)
      ASSERT_EQ(reply_of(*kv, {"get", (std::to_string(w) + "." + std::to_string(i)).c_str()}),
                "'ok' " + std::to_string(i));
  EXPECT_GE(checked, 300);
  EXPECT_EQ(reply_of(*kv, {"get", "wide"}), "'ok' \"w\xC3\xA9\"");
  EXPECT_EQ(reply_of(*kv, {"get", "big"}), "'not_found' 'big'");
}

// A server that cannot serve says why and exits: a second one of the service; a log damaged
// before its end, left as it is (the killed server's lock does not block this start); an
// unknown service, before anything is created. A torn end is dropped and reported, and the
// log rewritten, so that new records follow whole ones only.
TEST_F(KvService, AServerThatCannotServeSaysWhyAndExits) {
  ASSERT_TRUE(serve());
  for (char const* key : {"a", "b", "c"})
    reply_of(*kv, {"put", key, key});
  reply_of(*kv, {"sync"});
  auto const refused = [this](std::vector<std::string> args, int code, std::string text) {
    EXPECT_EQ(start_server(std::move(args))->wait_for_exit(time_limit), std::optional<int>(code));
    EXPECT_NE(said().find(text), std::string::npos) << said();
  };
  refused({service, dir.file("other")}, 3,
          "wygl_kv_server: another server already serves '" + service + "' on this machine");
  server->kill();
  std::string const log = folder + "/kv.log", whole = file_contents(log);
  std::string text = whole;
  text[text.find("'b' 'b'") + 5] = 'B';
  write_file(log, text);
  refused({service, folder}, 1,
          "kv.log is damaged at byte " +
              std::to_string(text.rfind('\n', text.find("'b' 'B'")) + 1) +
              " (record whose checksum does not match) and whole records follow");
  EXPECT_EQ(file_contents(log), text);
  refused({unknown, dir.file("unknown")}, 1,
          "wygl_kv_server: unknown service '" + unknown +
              "': it is neither in the file that WYGL_SERVICES names (" + services.file() + ")");
  EXPECT_FALSE(std::filesystem::exists(dir.file("unknown")));
  refused({"--help"}, 0, "usage: wygl_kv_server");

  write_file(log, whole.substr(0, whole.size() - 5));
  ASSERT_TRUE(serve());
  EXPECT_NE(said().find("dropped the damaged end of the log (record cut short at byte " +
                        std::to_string(whole.rfind('\n', whole.size() - 2) + 1) + ")"),
            std::string::npos)
      << said();
  EXPECT_EQ(reply_of(*kv, {"put", "after", 1}), "'ok' 3");
  reply_of(*kv, {"sync"});  // on disk also where the next serve() kills it (Windows)
  ASSERT_TRUE(serve());
  EXPECT_EQ(said().find("dropped"), std::string::npos) << said();
  EXPECT_EQ(reply_of(*kv, {"keys"}), "'ok' ('a' , 'after' , 'b' )");
}

TEST_F(KvService, TheClientProgramPrintsRepliesAndSaysWhatFailed) {
  ASSERT_TRUE(serve());
  // A listening socket that never accepts: the request goes to its backlog, no reply comes.
  std::string const silent = services.add("silent"), nobody = services.add("nobody");
  qmgl_socket_factory listener(silent.c_str(), qmgl_socket_factory::tcp);
  std::string const no_reply =
      "wygl_kv: no whole reply from service '" + silent + "' on 127.0.0.1 within 1 s";
  std::string const no_peer = "wygl_kv: cannot reach service '" + nobody + "' on 127.0.0.1: ";
  std::string const id = "0c4a0fd2-5b36-4a8e-9a53-f1f4f0a5e7d1";
  enum { whole, start, part };  // the output is, starts with, holds
  std::tuple<std::vector<std::string>, int, std::string, int> const cases[] = {
      {{"put", "n", "(1, #00ff, \"x\")"}, 0, "'ok' 1", whole},
      {{"get", "n"}, 0, "'ok' (1  , #00ff , \"x\"  )", whole},
      {{"get", "nothing"}, 1, "'not_found' 'nothing'", whole},
      {{"raw", "'get'", "12x"}, 1, "'error' 'illegal input; before: <>'", whole},
      {{"--id", id, "stats"}, 0, "(\"" + id + "\"  , 1  , 1  )", part},  // said hello first
      {{"--help"}, 0, "usage: wygl_kv", part},
      {{"put", "k", "nope"}, 64, "unrecognized keyword", part},
      {{"get", "a", "b"}, 64, "wygl_kv: get takes one key", start},
      {{"--timeout", "5x", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", start},
      {{"--timeout", "86401", "get", "k"}, 64, "wygl_kv: the time-out is no whole number", start},
      {{"--service", silent, "--timeout", "1", "get", "k"}, 2, no_reply, whole},
      {{"--service", nobody, "get", "k"}, 2, no_peer, start},
      {{"--service", unknown, "get", "k"}, 2, "wygl_kv: unknown service '" + unknown + "'", start},
  };
  for (auto const& [args, code, expected, match] : cases) {
    SCOPED_TRACE(args.back());
    std::vector<std::string> words = {"--service", service};
    words.insert(words.end(), args.begin(), args.end());
    child_process client(program_start{"wygl_kv", words, dir.file("client.out")});
    EXPECT_EQ(client.wait_for_exit(time_limit), std::optional<int>(code));
    std::string output = file_contents(dir.file("client.out"));
    output.erase(output.find_last_not_of("\r\n") + 1);
    std::size_t const at = output.find(expected);
    EXPECT_TRUE(match == whole  ? output == expected
                : match == part ? at != output.npos
                                : at == 0)
        << output;
    EXPECT_TRUE(code != 2 || output.find('\n') == output.npos) << output;  // one line
  }
  kv_client waiting(silent.c_str(), "127.0.0.1");
  waiting.limit_reply_wait(1);
  EXPECT_THROW(waiting.call({"get", "k"}), unsigned long);
}

// A connection over the cap is answered and closed; idle ones are closed, freeing places.
TEST_F(KvService, ConnectionsOverTheCapAndIdleOnesAreClosed) {
  ASSERT_TRUE(serve({"--max-connections", "2", "--idle-seconds", "1"}));
  kv_client idle(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(idle, {"put", "k", 1}), "'ok' 1");
  kv_client third(service.c_str(), "127.0.0.1");
  EXPECT_EQ(reply_of(third, {"get", "k"}),
            "'error' 'the server has its maximum of 2 connections open'");
  // Fresh connections look on until the idle ones are gone: the looking one alone is open.
  EXPECT_TRUE(wait_until(*server, [this] {
    kv_client look(service.c_str(), "127.0.0.1");
    return stat_of(look, "open") == 1;
  }));
  EXPECT_ANY_THROW(idle.call({"get", "k"}));  // closed, reset, or the request cannot go out
}
