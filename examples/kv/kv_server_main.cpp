// wygl_kv_server: a persistent key-value service on a named service.
//
//   wygl_kv_server [--compact-seconds N] SERVICE FOLDER
//
// SERVICE is looked up in the file named by WYGL_SERVICES, then in the system's services
// database; FOLDER holds the log (made when missing). One server per service name runs on a
// machine: a second one exits with code 3. SIGINT or SIGTERM (Ctrl+C on Windows) stops the
// server cleanly: it stops accepting, answers the requests in flight, writes the rest of the
// log and flushes it to the disk. Exit codes: 0 stopped cleanly, 1 failure, 2 usage, 3 another
// server serves the name.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_timer.h>

#include "kv_server.h"
#include "kv_service.h"
#include "shutdown_signal.h"

namespace {

constexpr char usage[] = "usage: wygl_kv_server [--compact-seconds N] SERVICE FOLDER\n";

struct options {
  char const* service = nullptr;
  char const* folder = nullptr;
  kv_periods periods;
};

bool parse(int argc, char** argv, options& chosen) {
  int i = 1;
  for (; i + 1 < argc && std::strcmp(argv[i], "--compact-seconds") == 0; i += 2) {
    chosen.periods.compaction = std::atoi(argv[i + 1]);
    if (chosen.periods.compaction < 1) return false;
  }
  if (argc - i != 2) return false;
  chosen.service = argv[i];
  chosen.folder = argv[i + 1];
  return chosen.service[0] != '\0' && chosen.folder[0] != '\0';
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

// An exception's message on one line (the value reader's messages hold line ends).
std::string one_line(char const* message) {
  std::string line(message);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line.erase(0, line.find_first_not_of(' '));
  return line;
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
    kv_open_report const opened = service.open();
    std::printf("wygl_kv_server: replayed %zu records of %s/kv.log, %zu keys\n", opened.records,
                chosen.folder, opened.keys);
    if (!opened.dropped_tail.empty())
      std::printf("wygl_kv_server: dropped the damaged end of the log (%s)\n",
                  opened.dropped_tail.c_str());
    service.start_timers(chosen.periods);
    {
      kv_server server(service, chosen.service);
      set_running(&server);
      watch_for_shutdown(stop_running, nullptr);
      std::printf("wygl_kv_server: serving '%s'\n", chosen.service);
      std::fflush(stdout);
      server.run();
      set_running(nullptr);
    }
    service.close();
    if (service.log().failed()) {
      std::fprintf(stderr, "wygl_kv_server: %s\n", service.log().failure().c_str());
      exit_code = 1;
    }
    std::printf("wygl_kv_server: stopped; changes up to %u are on disk\n",
                service.log().flushed_seq());
  }
  lock.release();
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  hold_shutdown_signals();
  options chosen;
  if (!parse(argc, argv, chosen)) {
    std::fputs(usage, stderr);
    return 2;
  }
  try {
    return serve(chosen);
  } catch (exc_t const& e) {
    std::fprintf(stderr, "wygl_kv_server: %s (code 0x%08lx)\n", one_line(e.message).c_str(),
                 static_cast<unsigned long>(e.code));
  } catch (std::exception const& e) {
    std::fprintf(stderr, "wygl_kv_server: %s\n", e.what());
  }
  return 1;
}
