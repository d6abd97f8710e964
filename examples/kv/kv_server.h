// The key-value service on the network: a listening RPC endpoint on a named service, one
// thread per connection, each answering the requests of its connection in turn.
//
//   kv_server server(service, "kv");   // listens
//   server.run();                      // accepts until stop(), then waits for the requests
//                                      // in flight
//   // on another thread: server.stop();
//
// Stopping: the acceptor blocks in accept, so stop() wakes it by connecting to the service
// once itself; the acceptor sees the stop and ends. run() then closes the gate of requests and
// waits until those in flight have been answered and their replies sent. Connections stay
// open until their clients close them or the process ends; a request that arrives on one
// after the stop gets 'error' 'the service is stopping'. Connection threads keep what they
// share with the server alive by themselves, so the server may be destroyed while idle
// connections wait.
//
// Thread safety: run on one thread; stop from any thread, also from a signal's watcher.

#ifndef WYGL_KV_SERVER_H
#define WYGL_KV_SERVER_H

#include <atomic>
#include <memory>
#include <string>

#include <wygl/qmgl_rpc.h>

#include "kv_service.h"

class kv_server {
 public:
  // Listens on service_name, on all local addresses. Raises the socket errors of
  // qmgl_rpc_server_factory (10048 when another program holds the port).
  kv_server(kv_service& service, std::string service_name);
  ~kv_server();
  kv_server(kv_server const&) = delete;
  kv_server& operator=(kv_server const&) = delete;

  // Accepts and serves connections until stop(); returns once the requests in flight are
  // answered.
  void run();
  // Stops accepting and wakes run().
  void stop();

 private:
  struct shared;
  struct connection;
  static void serve_connection(void* job) noexcept;

  std::string const _service_name;
  std::shared_ptr<shared> _shared;
  qmgl_rpc_server_factory _factory;
  std::atomic<bool> _stopping{false};
};

#endif  // WYGL_KV_SERVER_H
