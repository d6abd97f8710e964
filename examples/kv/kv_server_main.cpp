// wygl_kv_server: a persistent key-value service on a named service.
//
//   wygl_kv_server [OPTION...] SERVICE FOLDER
//
// SERVICE is looked up in the file named by WYGL_SERVICES, then in the system's services
// database; FOLDER holds the log (made when missing). The server listens on 127.0.0.1 unless
// --listen says otherwise. One server per service name runs on a machine: a second one exits
// with code 3. SIGINT or SIGTERM (Ctrl+C on Windows) stops the server: it stops accepting,
// gives the replies in flight a grace period, writes the rest of the log, flushes it to the
// disk and exits with code 0; connections still open then end with the process. Exit codes:
// 0 stopped cleanly (or --help), 1 failure, 2 usage, 3 another server serves the name.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_timer.h>

#include "kv_number.h"
#include "kv_server.h"
#include "kv_service.h"
#include "kv_text.h"
#include "shutdown_signal.h"

namespace {

constexpr char usage[] =
    "usage: wygl_kv_server [OPTION...] SERVICE FOLDER\n"
    "Serves the key-value store kept in FOLDER/kv.log on the named SERVICE (looked up in the\n"
    "file named by WYGL_SERVICES, then in the system's services database).\n"
    "  --listen ADDRESS         IPv4 address or host name to listen on (default 127.0.0.1;\n"
    "                           0.0.0.0: every interface)\n"
    "  --max-connections N      connections served at once, 1 to 10000 (default 100); one\n"
    "                           more gets an error reply and is closed\n"
    "  --idle-seconds N         close a connection after N seconds without a byte from its\n"
    "                           client, 0 to 86400 (default 300; 0: never)\n"
    "  --grace-seconds N        at a stop, wait at most N seconds for replies in flight,\n"
    "                           0 to 3600 (default 10)\n"
    "  --max-request-bytes N    refuse longer requests with an error reply and close their\n"
    "                           connection, 64 to 268435456 (default 67108864, 64 MiB)\n"
    "  --compact-seconds N      how often the log is rewritten as a snapshot, 1 to 86400\n"
    "                           (default 300)\n"
    "  --help                   this text\n"
    "Exit codes: 0 stopped cleanly, 1 failure, 2 usage, 3 another server serves SERVICE.\n";

struct options {
  char const* service = nullptr;
  char const* folder = nullptr;
  kv_server_options server;
  kv_periods periods;
  bool help = false;
};

// A number option's name, where it goes and its range.
struct number_option {
  char const* name;
  long long min;
  long long max;
  void (*store)(options&, long long);
};

constexpr number_option number_options[] = {
    {"--max-connections", 1, 10000,
     [](options& o, long long n) { o.server.max_connections = static_cast<int>(n); }},
    {"--idle-seconds", 0, 86400,
     [](options& o, long long n) { o.server.idle_seconds = static_cast<int>(n); }},
    {"--grace-seconds", 0, 3600,
     [](options& o, long long n) { o.server.grace_seconds = static_cast<int>(n); }},
    {"--max-request-bytes", 64, 268435456,
     [](options& o, long long n) { o.server.max_request_bytes = static_cast<std::size_t>(n); }},
    {"--compact-seconds", 1, 86400,
     [](options& o, long long n) { o.periods.compaction = static_cast<int>(n); }},
};

// Fills chosen from the arguments; a text that says what is wrong, or empty.
std::string parse(int argc, char** argv, options& chosen) {
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--help") == 0) {
      chosen.help = true;
      return {};
    }
    if (i + 1 >= argc) return std::string(argv[i]) + " needs a value";
    char const* const value = argv[i + 1];
    if (std::strcmp(argv[i], "--listen") == 0) {
      if (*value == '\0') return "--listen needs an address";
      chosen.server.listen = value;
      continue;
    }
    number_option const* known = nullptr;
    for (number_option const& option : number_options)
      if (std::strcmp(option.name, argv[i]) == 0) known = &option;
    if (known == nullptr) return std::string("unknown option ") + argv[i];
    auto const n = kv_parse_number(value, known->min, known->max);
    if (!n)
      return std::string(known->name) + " takes a whole number from " + std::to_string(known->min) +
             " to " + std::to_string(known->max) + ", not '" + value + "'";
    known->store(chosen, *n);
  }
  if (argc - i != 2) return "SERVICE and FOLDER are needed";
  chosen.service = argv[i];
  chosen.folder = argv[i + 1];
  if (chosen.service[0] == '\0' || chosen.folder[0] == '\0') return "empty SERVICE or FOLDER";
  return {};
}

// The server that a stop request stops; cleared under the guard before it ends, so that a late
// request does not reach it.
qmgl_guard running_guard;
kv_server* running = nullptr;

void stop_running(void*) {
  running_guard.enterCriticalRegion();
  if (running != nullptr) running->stop();
  running_guard.leaveCriticalRegion();
}

void set_running(kv_server* server) {
  running_guard.enterCriticalRegion();
  running = server;
  running_guard.leaveCriticalRegion();
}

// The server that stop requests reach, for the life of a scope.
struct running_scope {
  explicit running_scope(kv_server& server) { set_running(&server); }
  ~running_scope() { set_running(nullptr); }
  running_scope(running_scope const&) = delete;
  running_scope& operator=(running_scope const&) = delete;
};

// Why the server could not listen, in the user's terms.
std::string listen_failure(options const& chosen, exc_t const& e) {
  std::string const service = chosen.service;
  std::string const& host = chosen.server.listen;
  if (e.code == 11004 || e.code == 11001)  // WSANO_DATA, WSAHOST_NOT_FOUND
    return kv_name_not_found(service, host);
  std::string const what = "cannot listen for '" + service + "' on " + host + ": ";
  if (e.code == 10048) return what + "another program holds the port";
  if (e.code == 10049) return what + "that is no address of this machine";
  return what + kv_one_line(e.message);
}

// The process's timer, for the life of a scope.
struct timer_scope {
  timer_scope() { qmgl_timer::create(); }
  ~timer_scope() { qmgl_timer::destroy(); }
  timer_scope(timer_scope const&) = delete;
  timer_scope& operator=(timer_scope const&) = delete;
};

int serve(options const& chosen) {
  std::string const lock_name = std::string("wygl_kv_server.") + chosen.service;
  qmgl_sync_lock_shared lock(lock_name.c_str(), qmgl_action_create_or_open);
  qmgl_wait_error_indicator const held = lock.request(0);
  if (held == qmgl_wait_timeout) {
    std::fprintf(stderr, "wygl_kv_server: another server already serves '%s' on this machine\n",
                 chosen.service);
    return 3;
  }
  if (held == qmgl_wait_abandoned)
    std::printf("wygl_kv_server: the last server of '%s' ended without stopping; taking over\n",
                chosen.service);

  int exit_code = 0;
  {
    timer_scope const timer;
    kv_service service(chosen.folder);
    {
      // Listening comes first: a service that cannot be served leaves no folder or log.
      std::unique_ptr<kv_server> server;
      try {
        server = std::make_unique<kv_server>(service, chosen.service, chosen.server);
      } catch (exc_t const& e) {
        std::fprintf(stderr, "wygl_kv_server: %s\n", listen_failure(chosen, e).c_str());
        lock.release();
        return 1;
      }
      running_scope const stoppable(*server);
      watch_for_shutdown(stop_running, nullptr);
      kv_open_report const opened = service.open();
      std::printf("wygl_kv_server: replayed %zu records of %s/kv.log, %zu keys\n", opened.records,
                  chosen.folder, opened.keys);
      if (!opened.dropped_tail.empty())
        std::printf("wygl_kv_server: dropped the damaged end of the log (%s)\n",
                    opened.dropped_tail.c_str());
      service.start_timers(chosen.periods);
      std::printf("wygl_kv_server: serving '%s' on %s\n", chosen.service,
                  chosen.server.listen.c_str());
      std::fflush(stdout);
      server->run();
    }
    service.close();
    if (service.log().failed()) {
      std::fprintf(stderr, "wygl_kv_server: %s\n", service.log().failure().c_str());
      exit_code = 1;
    }
    if (int const left = kv_server::threads_left(); left > 0)
      std::printf("wygl_kv_server: %d connections still open end with the process\n", left);
    std::printf("wygl_kv_server: stopped; changes up to %u are on disk\n",
                service.log().flushed_seq());
  }
  lock.release();
  return exit_code;
}

// Connection threads that still wait on their clients must not run into the destruction of
// the process's static objects: the process then ends without it.
[[noreturn]] void end_process(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

}  // namespace

int main(int argc, char** argv) {
  hold_shutdown_signals();
  options chosen;
  if (std::string const wrong = parse(argc, argv, chosen); !wrong.empty()) {
    std::fprintf(stderr, "wygl_kv_server: %s\n", wrong.c_str());
    std::fputs(usage, stderr);
    return 2;
  }
  if (chosen.help) {
    std::fputs(usage, stdout);
    return 0;
  }
  int code = 1;
  try {
    code = serve(chosen);
  } catch (exc_t const& e) {
    std::fprintf(stderr, "wygl_kv_server: %s (code 0x%08lx)\n", kv_one_line(e.message).c_str(),
                 static_cast<unsigned long>(e.code));
  } catch (std::exception const& e) {
    std::fprintf(stderr, "wygl_kv_server: %s\n", e.what());
  }
  if (kv_server::threads_left() > 0) end_process(code);
  return code;
}
