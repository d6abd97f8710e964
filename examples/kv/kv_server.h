// The key-value service on the network: a listening RPC endpoint on a named service, one
// thread per connection, each answering the requests of its connection in turn.
//
//   kv_server server(service, "kv", kv_server_options{});   // listens on 127.0.0.1
//   service.open();
//   server.run();                      // accepts until stop(), then ends the requests in flight
//   // on another thread: server.stop();
//
// Limits (kv_server_options): at most max_connections connections are served at once; one
// more is accepted, answered 'error' 'the server has its maximum of N connections open' at
// once (whatever its request) and closed. A connection on which no byte arrives for
// idle_seconds is closed. A request longer than max_request_bytes is answered with the RPC
// layer's 'error' 'RPC message longer than the limit of N bytes' before anything of it is
// applied, and its connection is closed (qmgl_rpc_server::set_incoming_message_limit).
//
// Stopping: the acceptor blocks in accept, so stop() wakes it by connecting to the service
// once itself; the acceptor sees the stop and ends. run() then lets no new request in (a
// request read after the stop is answered 'error' 'the service is stopping'), waits for the
// replies in flight to be sent for at most grace_seconds, and then for every request still
// inside the service (those never wait for a peer) to be done, and returns. Connections that
// are idle, or whose client does not take its reply, are not waited for: they are left to the
// process's end (threads_left tells whether there are any). Connection threads keep what they
// share with the server alive by themselves, so the server may be destroyed while they wait,
// and no connection thread touches the service once run() has returned.
//
// Thread safety: run on one thread; stop from any thread, also from a signal's watcher.

#ifndef WYGL_KV_SERVER_H
#define WYGL_KV_SERVER_H

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include <wygl/qmgl_rpc.h>

#include "kv_service.h"

struct kv_server_options {
  std::string listen = "127.0.0.1";  // a host name or IPv4 address; empty: all local addresses
  int max_connections = 100;
  int idle_seconds = 300;  // 0: no idle limit
  int grace_seconds = 10;
  std::size_t max_request_bytes = std::size_t{64} << 20;
};

class kv_server {
 public:
  // Listens on service_name at options.listen; service is not used before run(). Raises the
  // socket errors of qmgl_rpc_server_factory: WSANO_DATA (11004) for a service or host name
  // that cannot be found, 10048 when another program holds the port.
  kv_server(kv_service& service, std::string service_name, kv_server_options options = {});
  ~kv_server();
  kv_server(kv_server const&) = delete;
  kv_server& operator=(kv_server const&) = delete;

  // Accepts and serves connections until stop(); returns as described above.
  void run();
  // Stops accepting and wakes run().
  void stop();

  // The number of connection threads of all servers of the process that have not ended.
  static int threads_left();

 private:
  struct shared;
  struct connection;
  static void serve_connection(void* job) noexcept;
  void refuse(qmgl_rpc_server& peer);

  std::string const _service_name;
  kv_server_options const _options;
  std::shared_ptr<shared> _shared;
  qmgl_rpc_server_factory _factory;
  std::atomic<bool> _stopping{false};
};

#endif  // WYGL_KV_SERVER_H
