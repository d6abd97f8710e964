// wygl_kv: the command-line client of wygl_kv_server.
//
//   wygl_kv [--service NAME] [--host HOST] [--timeout SECONDS] COMMAND [ARGUMENT...]
//
//   put KEY VALUE      VALUE in the value text syntax: 'text' (STR), "text" (UNI), 42, true,
//                      unknown, null, #00ff (BIN), (1, 'a') (an array); quote it for the shell
//   get KEY            del KEY            expire KEY SECONDS
//   keys               stats              sync               compact
//   hello              says this process's client identity
//   raw TEXT...        sends TEXT as the request, as it is
//
// KEY is taken as it is written, as an STR. The service is --service, else the environment
// variable WYGL_KV_SERVICE, else wygl_kv; the host --host, else WYGL_KV_HOST, else 127.0.0.1.
// The reply is waited for at most --timeout seconds, else WYGL_KV_TIMEOUT, else 30; 0 waits
// without limit. The reply is printed in the value text syntax, one line. Exit codes: 0 the
// reply is 'ok', 1 it is 'not_found' or 'error', 2 the server cannot be reached, the
// connection failed or no reply came in time, 64 usage.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <wygl/qmgl_client_id.h>
#include <wygl/qmgl_env.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value_reader.h>

#include "kv_change.h"
#include "kv_client.h"

namespace {

constexpr char usage[] =
    "usage: wygl_kv [--service NAME] [--host HOST] [--timeout SECONDS] COMMAND [ARGUMENT...]\n"
    "commands: put KEY VALUE | get KEY | del KEY | expire KEY SECONDS | keys | stats |\n"
    "          sync | compact | hello | raw TEXT...\n";

struct command_shape {
  char const* name;
  int words;   // arguments taken as they are (the key)
  int values;  // arguments read as values
};

constexpr command_shape shapes[] = {
    {"put", 1, 1},   {"get", 1, 0},  {"del", 1, 0},     {"expire", 1, 1}, {"keys", 0, 0},
    {"stats", 0, 0}, {"sync", 0, 0}, {"compact", 0, 0}, {"hello", 0, 0},
};

char const* setting(char const* given, char const* variable, char const* fallback) {
  if (given != nullptr) return given;
  char const* const from_environment = qmgl_env_get(variable);
  return from_environment != nullptr ? from_environment : fallback;
}

// A whole number of seconds from 0 to one day, or -1.
int seconds_of(char const* text) {
  char* end = nullptr;
  long const seconds = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || seconds < 0 || seconds > 86400) return -1;
  return static_cast<int>(seconds);
}

int fail_usage(char const* why) {
  if (why != nullptr) std::fprintf(stderr, "wygl_kv: %s\n", why);
  std::fputs(usage, stderr);
  return 64;
}

// The request for a command of the table: its name, its words as STR values, then the values
// read from the rest of the arguments with the value reader. False, with why set, when the
// arguments do not fit.
bool build_request(command_shape const& shape, char** args, int count,
                   std::vector<qmgl_value>& request, std::string& why) {
  if (count < shape.words + (shape.values > 0 ? 1 : 0)) {
    why = std::string(shape.name) + " needs more arguments";
    return false;
  }
  request.emplace_back(shape.name);
  for (int i = 0; i < shape.words; ++i)
    request.emplace_back(args[i]);
  std::vector<char*> rest(args + shape.words, args + count);
  rest.push_back(nullptr);
  qmgl_input_arguments in(rest.data());
  int read = 0;
  try {
    for (;;) {
      qmgl_value v;
      in >> v;
      if (kv_is_end(v)) break;
      request.push_back(std::move(v));
      ++read;
    }
  } catch (exc_t const& e) {
    why = "the arguments are no values: " + std::string(e.message);
    for (char& c : why)
      if (c == '\r' || c == '\n') c = ' ';
    return false;
  }
  if (read != shape.values) {
    why = std::string(shape.name) + " takes " + std::to_string(shape.values) + " value" +
          (shape.values == 1 ? "" : "s") + " after its key";
    return false;
  }
  return true;
}

std::vector<qmgl_value> hello_request() {
  qmgl_client_id me = qmgl_client_id::getClientID();
  me.set_connection_id(qmgl_client_id::getConnectionID());
  return {"hello", qmgl_value(me.get_UUID().c_str()), me.get_connection_id()};
}

}  // namespace

int main(int argc, char** argv) {
  char const* service = nullptr;
  char const* host = nullptr;
  char const* timeout = nullptr;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    if (std::strcmp(argv[i], "--service") == 0)
      service = argv[i + 1];
    else if (std::strcmp(argv[i], "--host") == 0)
      host = argv[i + 1];
    else if (std::strcmp(argv[i], "--timeout") == 0)
      timeout = argv[i + 1];
    else
      return fail_usage("unknown option");
  }
  if (i >= argc) return fail_usage(nullptr);
  service = setting(service, "WYGL_KV_SERVICE", "wygl_kv");
  host = setting(host, "WYGL_KV_HOST", "127.0.0.1");
  int const reply_seconds = seconds_of(setting(timeout, "WYGL_KV_TIMEOUT", "30"));
  if (reply_seconds < 0) return fail_usage("the time-out is no number of seconds (0 to 86400)");
  char const* const command = argv[i];
  char** const args = argv + i + 1;
  int const count = argc - i - 1;

  std::vector<qmgl_value> request;
  std::string raw;
  if (std::strcmp(command, "raw") == 0) {
    for (int a = 0; a < count; ++a)
      raw += (a == 0 ? "" : " ") + std::string(args[a]);
  } else if (std::strcmp(command, "hello") == 0 && count == 0) {
    request = hello_request();
  } else {
    command_shape const* shape = nullptr;
    for (command_shape const& candidate : shapes)
      if (std::strcmp(candidate.name, command) == 0) shape = &candidate;
    if (shape == nullptr) return fail_usage("unknown command");
    std::string why;
    if (!build_request(*shape, args, count, request, why)) return fail_usage(why.c_str());
  }

  std::vector<qmgl_value> reply;
  try {
    kv_client kv(service, host, reply_seconds);
    reply = raw.empty() && !request.empty() ? kv.call(request) : kv.call_text(raw.c_str());
  } catch (exc_t const& e) {
    std::string message(e.message);
    message.erase(message.find_last_not_of(" \r\n") + 1);
    std::fprintf(stderr, "wygl_kv: cannot reach service '%s' on %s: %s\n", service, host,
                 message.c_str());
    return 2;
  } catch (int) {
    std::fprintf(stderr, "wygl_kv: the server closed the connection\n");
    return 2;
  } catch (unsigned long code) {
    std::fprintf(stderr,
                 "wygl_kv: no reply within %d s, or the connection failed (socket error %lu)\n",
                 reply_seconds, code);
    return 2;
  }
  std::printf("%s\n", kv_reply_text(reply).c_str());
  bool const ok =
      !reply.empty() && reply[0].is_str() && std::strcmp(reply[0].as_charp(), "ok") == 0;
  return ok ? 0 : 1;
}
