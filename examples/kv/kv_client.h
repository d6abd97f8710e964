// One client connection to a key-value service, for the command-line client, the tests and
// the benchmark.
//
//   kv_client kv("kv", "127.0.0.1");
//   std::vector<qmgl_value> reply = kv.call({"put", "greeting", "hello"});   // 'ok' 1
//   std::string text = kv_reply_text(kv.call({"get", "greeting"}));           // "'ok' 'hello'"
//
// Each call is one request message and its reply. Failures reach the caller as the RPC layer
// reports them: exc_t when the connection cannot be made or a send fails, the int 0 when the
// server closed the connection, the socket error code as an unsigned long when a read fails or
// no reply has come within the time limit.
//
// Thread safety: one client may be shared by threads; their calls take turns.

#ifndef WYGL_KV_CLIENT_H
#define WYGL_KV_CLIENT_H

#include <string>
#include <vector>

#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value.h>

class kv_client {
 public:
  // Connects to service on host (this machine when null or empty). Each reply is waited for
  // at most reply_seconds; 0 waits without limit.
  kv_client(char const* service, char const* host, int reply_seconds = 0);

  // Sends the values as one request; returns the values of the reply.
  std::vector<qmgl_value> call(std::vector<qmgl_value> const& request);
  // Sends text as it is as one request (it is not checked here: the server reads it).
  std::vector<qmgl_value> call_text(char const* text);

 private:
  qmgl_rpc_client _client;
  int _reply_seconds;
};

// The values' texts, each without its trailing spaces, joined by one space.
std::string kv_reply_text(std::vector<qmgl_value> const& values);

#endif  // WYGL_KV_CLIENT_H
