// One client connection to a key-value service, for the command-line client, the tests and
// the benchmark.
//
//   kv_client kv("kv", "127.0.0.1");
//   std::vector<qmgl_value> reply = kv.call({"put", "greeting", "hello"});   // 'ok' 1
//   std::string text = kv_reply_text(kv.call({"get", "greeting"}));           // "'ok' 'hello'"
//
// Each call is one request message and its reply. Failures reach the caller as the RPC layer
// reports them: exc_t when the connection cannot be made or a send fails, the int 0 when the
// server closed the connection, the socket error code as an unsigned long when a read fails,
// exc_range_overflow_t for a reply over the limit, and the value reader's exc_t for a reply
// that is no value text. Where the caller passes a stage, the client keeps it up to date, so
// that another thread can tell what an exchange waits for and the caller what failed.
//
// A reply can take as long as the server takes, unless limit_reply_wait bounds the wait.
//
// A server that refuses a request (too long, too many connections) answers at once and
// closes the connection, so the send of a long request may fail while the answer has
// arrived: a call whose send fails returns that answer when it can be read.
//
// Thread safety: one client may be shared by threads; their calls take turns.

#ifndef WYGL_KV_CLIENT_H
#define WYGL_KV_CLIENT_H

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_value.h>

enum class kv_stage { connecting, sending, receiving, done };

class kv_client {
 public:
  // Connects to service on host (this machine when null or empty).
  kv_client(char const* service, char const* host, std::atomic<kv_stage>* stage = nullptr);

  // Replies longer than bytes raise exc_range_overflow_t and end the connection.
  void limit_replies(std::size_t bytes) { _client.set_incoming_message_limit(bytes); }
  // Each later read of a reply waits at most seconds (at least 1) for its next bytes, so that
  // a server that stalls, or was killed and left its end of the connection open, cannot hold
  // the caller for ever. A read that waits longer raises the socket error code as an unsigned
  // long and marks the server dead. Without this call a read waits as long as it takes.
  void limit_reply_wait(int seconds) { _reply_wait_seconds = seconds; }

  // Sends the values as one request; returns the values of the reply.
  std::vector<qmgl_value> call(std::vector<qmgl_value> const& request);
  // Sends text as it is as one request (it is not checked here: the server reads it).
  std::vector<qmgl_value> call_text(char const* text);

 private:
  template <class Write>
  std::vector<qmgl_value> exchange(Write const& write);
  void enter(kv_stage stage);

  std::atomic<kv_stage>* _stage;
  int _reply_wait_seconds = 0;
  qmgl_rpc_client _client;
};

// The values' texts, each without its trailing spaces, joined by one space.
std::string kv_reply_text(std::vector<qmgl_value> const& values);

#endif  // WYGL_KV_CLIENT_H
