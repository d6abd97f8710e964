// wygl_kv: the command-line client of wygl_kv_server.
//
//   wygl_kv [OPTION...] COMMAND [ARGUMENT...]
//
// Sends one request (after a hello, with --id) on one connection and prints the reply in the
// value text syntax, on one line. --timeout bounds the whole exchange: connecting, sending and
// the whole reply. Every failure is one line on stderr that says what failed. Exit codes: 0
// the reply is 'ok' (or --help), 1 it is 'not_found' or 'error', 2 no reply (the service
// cannot be found or reached, the connection failed, the reply was cut, malformed or too
// long, or the time ran out), 64 usage. The options are in the usage text below.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <wygl/qmgl_client_id.h>
#include <wygl/qmgl_env.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_change.h"
#include "kv_client.h"
#include "kv_number.h"
#include "kv_text.h"

namespace {

constexpr char usage[] =
    "usage: wygl_kv [OPTION...] COMMAND [ARGUMENT...]\n"
    "Sends one request to a wygl_kv_server and prints its reply.\n"
    "  --service NAME         the service (else $WYGL_KV_SERVICE, else wygl_kv)\n"
    "  --host HOST            its host (else $WYGL_KV_HOST, else 127.0.0.1)\n"
    "  --timeout SECONDS      bound of the whole exchange, 0 to 86400 (else $WYGL_KV_TIMEOUT,\n"
    "                         else 30; 0: no bound)\n"
    "  --id UUID              say hello with this client identity first, on the same\n"
    "                         connection, so that the request counts for it\n"
    "  --max-reply-bytes N    refuse longer replies, 0 to 4294967295 (default 268435456;\n"
    "                         0: no limit)\n"
    "  --help                 this text\n"
    "commands: put KEY VALUE | get KEY | del KEY | expire KEY SECONDS | keys | stats |\n"
    "          sync | compact | hello | raw TEXT...\n"
    "VALUE is one argument in the value text syntax: 'text' (STR), \"text\" (UNI), 42, true,\n"
    "unknown, null, #00ff (BIN), (1, 'a') (an array); quote it for the shell.\n"
    "Exit codes: 0 'ok', 1 'not_found' or 'error', 2 no reply, 64 usage.\n";

struct command_shape {
  char const* name;
  bool key;           // takes a key, as it is written
  bool value;         // then a value, read with the value reader
  char const* takes;  // what it takes, for the usage error
};

constexpr command_shape shapes[] = {
    {"put", true, true, "a key and a value"},
    {"get", true, false, "one key"},
    {"del", true, false, "one key"},
    {"expire", true, true, "a key and a whole number of seconds"},
    {"keys", false, false, "no arguments"},
    {"stats", false, false, "no arguments"},
    {"sync", false, false, "no arguments"},
    {"compact", false, false, "no arguments"},
    {"hello", false, false, "no arguments"},
};

struct settings {
  char const* service = nullptr;
  char const* host = nullptr;
  char const* timeout = nullptr;
  char const* id = nullptr;
  std::size_t max_reply = std::size_t{256} << 20;
};

char const* setting(char const* given, char const* variable, char const* fallback) {
  if (given != nullptr) return given;
  char const* const from_environment = qmgl_env_get(variable);
  return from_environment != nullptr ? from_environment : fallback;
}

int fail_usage(std::string const& why) {
  if (!why.empty()) std::fprintf(stderr, "wygl_kv: %s\n", why.c_str());
  std::fputs(usage, stderr);
  return 64;
}

// Whether text is a UUID in its 36-character form.
bool is_uuid(char const* text) {
  if (std::strlen(text) != 36) return false;
  for (int i = 0; i < 36; ++i) {
    bool const dash = i == 8 || i == 13 || i == 18 || i == 23;
    bool const hex = std::strchr("0123456789abcdefABCDEF", text[i]) != nullptr && text[i] != '\0';
    if (dash ? text[i] != '-' : !hex) return false;
  }
  return true;
}

// The request for a command of the table: its name, the key as an STR, then the value read
// with the value reader. Empty, with why set, when the arguments do not fit.
std::vector<qmgl_value> build_request(command_shape const& shape, char** args, int count,
                                      std::string& why) {
  int const wanted = (shape.key ? 1 : 0) + (shape.value ? 1 : 0);
  if (count != wanted) {
    why = std::string(shape.name) + " takes " + shape.takes;
    return {};
  }
  std::vector<qmgl_value> request{qmgl_value(shape.name)};
  if (shape.key) request.emplace_back(args[0]);
  if (!shape.value) return request;
  char* value_argument[] = {args[1], nullptr};
  qmgl_input_arguments in(value_argument);
  qmgl_value v, rest;
  try {
    in >> v >> rest;
  } catch (exc_t const& e) {
    why = "the value is no value text: " + kv_one_line(e.message);
    return {};
  }
  bool const seconds = std::strcmp(shape.name, "expire") == 0;
  if (kv_is_end(v) || !kv_is_end(rest) || (seconds && !v.is_int())) {
    why = std::string(shape.name) + " takes " + shape.takes +
          (seconds ? "" : " (one argument in the value text syntax)");
    return {};
  }
  request.push_back(std::move(v));
  return request;
}

std::vector<qmgl_value> hello_request(char const* uuid) {
  qmgl_client_id me = qmgl_client_id::getClientID();
  int const connection = qmgl_client_id::getConnectionID();
  if (uuid == nullptr) return {"hello", qmgl_value(me.get_UUID().c_str()), connection};
  return {"hello", qmgl_value(qmgl_str_to_qmgl_uni(uuid)), connection};
}

// Ends the process with one line when the exchange takes longer than its bound, whatever it
// waits in (connecting, sending or receiving).
class deadline {
 public:
  deadline(int seconds, std::atomic<kv_stage> const& stage, std::string where) {
    if (seconds == 0) return;
    _watch = std::thread([this, seconds, &stage, where] {
      std::unique_lock<std::mutex> hold(_guard);
      if (_ended.wait_for(hold, std::chrono::seconds(seconds), [this] { return _done; })) return;
      kv_stage const now = stage.load();
      char const* const what = now == kv_stage::connecting ? "no connection to"
                               : now == kv_stage::sending  ? "the request was not taken by"
                                                           : "no whole reply from";
      std::fprintf(stderr, "wygl_kv: %s %s within %d s\n", what, where.c_str(), seconds);
      std::fflush(nullptr);
      std::_Exit(2);
    });
  }
  ~deadline() { finish(); }
  deadline(deadline const&) = delete;
  deadline& operator=(deadline const&) = delete;

  // The exchange is over: the bound no longer applies.
  void finish() {
    {
      std::lock_guard<std::mutex> hold(_guard);
      _done = true;
    }
    _ended.notify_all();
    if (_watch.joinable()) _watch.join();
  }

 private:
  std::mutex _guard;
  std::condition_variable _ended;
  bool _done = false;
  std::thread _watch;
};

// What went wrong, given the stage it went wrong in.
std::string failure_text(kv_stage stage, std::string const& service, std::string const& host,
                         std::size_t max_reply) {
  std::string const where = "service '" + service + "' on " + host;
  try {
    throw;
  } catch (exc_range_overflow_t const&) {
    return "the reply of " + where + " is longer than " + std::to_string(max_reply) +
           " bytes (--max-reply-bytes)";
  } catch (exc_t const& e) {
    if (stage == kv_stage::connecting) {
      if (e.code == 11004 || e.code == 11001) return kv_name_not_found(service, host);
      if (e.code == 10061) return "cannot reach " + where + ": nothing listens there";
      return "cannot reach " + where + ": " + kv_one_line(e.message);
    }
    if (stage == kv_stage::sending)
      return "the connection to " + where +
             " failed while the request was sent: " + kv_one_line(e.message);
    return "the reply of " + where + " is no value text: " + kv_one_line(e.message);
  } catch (int) {
    return where + " closed the connection before its reply was whole";
  } catch (unsigned long code) {
    return "the connection to " + where + " failed while the reply was read (socket error " +
           std::to_string(code) + ")";
  } catch (std::exception const& e) {
    return "the exchange with " + where + " failed: " + e.what();
  } catch (...) {
    return "the exchange with " + where + " failed";
  }
}

bool is_ok(std::vector<qmgl_value> const& reply) {
  return !reply.empty() && reply[0].is_str() && std::strcmp(reply[0].as_charp(), "ok") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  settings chosen;
  char const* max_reply = nullptr;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return fail_usage(std::string(argv[i]) + " needs a value");
    char const* const value = argv[i + 1];
    if (std::strcmp(argv[i], "--service") == 0)
      chosen.service = value;
    else if (std::strcmp(argv[i], "--host") == 0)
      chosen.host = value;
    else if (std::strcmp(argv[i], "--timeout") == 0)
      chosen.timeout = value;
    else if (std::strcmp(argv[i], "--id") == 0)
      chosen.id = value;
    else if (std::strcmp(argv[i], "--max-reply-bytes") == 0)
      max_reply = value;
    else
      return fail_usage(std::string("unknown option ") + argv[i]);
  }
  if (i >= argc) return fail_usage("");
  std::string const service = setting(chosen.service, "WYGL_KV_SERVICE", "wygl_kv");
  std::string const host = setting(chosen.host, "WYGL_KV_HOST", "127.0.0.1");
  auto const seconds = kv_parse_number(setting(chosen.timeout, "WYGL_KV_TIMEOUT", "30"), 0, 86400);
  if (!seconds) return fail_usage("the time-out is no whole number of seconds (0 to 86400)");
  if (chosen.id != nullptr && !is_uuid(chosen.id))
    return fail_usage("--id takes a UUID such as 0c4a0fd2-5b36-4a8e-9a53-f1f4f0a5e7d1");
  if (max_reply != nullptr) {
    auto const bytes = kv_parse_number(max_reply, 0, 4294967295LL);
    if (!bytes) return fail_usage("--max-reply-bytes takes a whole number (0 to 4294967295)");
    chosen.max_reply = *bytes == 0 ? qmgl_rpc_no_message_limit : static_cast<std::size_t>(*bytes);
  }
  char const* const command = argv[i];
  char** const args = argv + i + 1;
  int const count = argc - i - 1;

  std::vector<qmgl_value> request;
  std::string raw;
  if (std::strcmp(command, "raw") == 0) {
    for (int a = 0; a < count; ++a)
      raw += (a == 0 ? "" : " ") + std::string(args[a]);
  } else {
    command_shape const* shape = nullptr;
    for (command_shape const& candidate : shapes)
      if (std::strcmp(candidate.name, command) == 0) shape = &candidate;
    if (shape == nullptr) return fail_usage(std::string("unknown command ") + command);
    std::string why;
    request = std::strcmp(command, "hello") == 0 && count == 0
                  ? hello_request(nullptr)
                  : build_request(*shape, args, count, why);
    if (request.empty()) return fail_usage(why);
  }

  std::atomic<kv_stage> stage{kv_stage::connecting};
  std::vector<qmgl_value> reply;
  {
    deadline bound(static_cast<int>(*seconds), stage, "service '" + service + "' on " + host);
    try {
      kv_client kv(service.c_str(), host.c_str(), &stage);
      kv.limit_replies(chosen.max_reply);
      if (chosen.id != nullptr) reply = kv.call(hello_request(chosen.id));
      if (chosen.id == nullptr || is_ok(reply))
        reply = request.empty() ? kv.call_text(raw.c_str()) : kv.call(request);
    } catch (...) {
      bound.finish();
      std::fprintf(stderr, "wygl_kv: %s\n",
                   failure_text(stage.load(), service, host, chosen.max_reply).c_str());
      return 2;
    }
  }
  std::printf("%s\n", kv_reply_text(reply).c_str());
  return is_ok(reply) ? 0 : 1;
}
