#include "kv_server.h"

#include "kv_gate.h"

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sleep.h>
#include <wygl/qmgl_thread.h>

namespace {

// A pause after a failed accept (too many open files, for example), so that a lasting
// failure does not spin.
constexpr int accept_retry_ms = 100;

std::atomic<int> running_threads{0};

// A request whose reads wait at most the idle limit for the next byte (the socket is
// reachable only from a request).
struct idle_limited_request : qmgl_rpc_server_request {
  idle_limited_request(qmgl_rpc_server& server, int idle_seconds)
      : qmgl_rpc_server_request(server) {
    if (idle_seconds > 0) _socket.doSelectWait(idle_seconds);
  }
};

std::vector<qmgl_value> error_reply(std::string const& message) {
  return {qmgl_value("error"), qmgl_value(message.c_str())};
}

}  // namespace

// What connection threads share with the server, and keep after it.
struct kv_server::shared {
  shared(kv_service& s, int idle) : service(s), idle_seconds(idle) {}
  kv_service& service;  // used only inside the gate work
  int const idle_seconds;
  kv_gate replies;  // from a request's arrival to its reply's end
  kv_gate work;     // while a request is inside the service
  std::atomic<int> open{0};
};

// One accepted connection, handed to its thread.
struct kv_server::connection {
  std::shared_ptr<shared> common;
  std::unique_ptr<qmgl_rpc_server> peer;
};

kv_server::kv_server(kv_service& service, std::string service_name, kv_server_options options)
    : _service_name(std::move(service_name)),
      _options(std::move(options)),
      _shared(std::make_shared<shared>(service, _options.idle_seconds)),
      _factory(_service_name.c_str(), _options.listen.empty() ? static_cast<char const*>(nullptr)
                                                              : _options.listen.c_str()) {}

kv_server::~kv_server() = default;

int kv_server::threads_left() {
  return running_threads.load();
}

void kv_server::run() {
  while (!_stopping.load()) {
    auto job = std::make_unique<connection>();
    job->common = _shared;
    try {
      job->peer = std::make_unique<qmgl_rpc_server>(_factory);
    } catch (exc_t const&) {
      if (!_stopping.load()) qmgl_sleep(accept_retry_ms);
      continue;
    }
    if (_stopping.load()) break;
    if (_shared->open.load() >= _options.max_connections) {
      refuse(*job->peer);
      continue;
    }
    job->peer->set_incoming_message_limit(_options.max_request_bytes);
    _shared->service.connection_opened();
    _shared->open.fetch_add(1);
    running_threads.fetch_add(1);
    try {
      qmgl_pl_thread(serve_connection, job.get(), 0);
      job.release();  // the thread owns it now
    } catch (exc_t const&) {
      running_threads.fetch_sub(1);
      _shared->open.fetch_sub(1);
      kv_session nobody;
      _shared->service.connection_closed(nobody);
    }
  }
  _shared->replies.close_and_wait(static_cast<long>(_options.grace_seconds) * 1000);
  _shared->work.close_and_wait();
}

// Answers at once, without reading the request, so that a client over the limit learns why;
// the connection closes when the caller drops it.
void kv_server::refuse(qmgl_rpc_server& peer) {
  try {
    qmgl_rpc_server_request reply(peer);
    kv_write_values(reply,
                    error_reply("the server has its maximum of " +
                                std::to_string(_options.max_connections) + " connections open"));
  } catch (...) {
    // The client has gone already.
  }
}

void kv_server::stop() {
  _stopping.store(true);
  bool const everywhere = _options.listen.empty() || _options.listen == "0.0.0.0";
  try {
    qmgl_rpc_client wake(_service_name.c_str(), everywhere ? "127.0.0.1" : _options.listen.c_str());
  } catch (exc_t const&) {
    // Nothing listens any more, so nothing is waiting in accept either.
  }
}

void kv_server::serve_connection(void* job) noexcept {
  std::unique_ptr<connection> mine(static_cast<connection*>(job));
  std::shared_ptr<shared> const common = mine->common;
  kv_session session;
  try {
    while (!mine->peer->is_client_dead()) {
      // The reply's pass ends after the request object, whose end sends the reply; the work
      // pass ends with the answer, before the reply goes out.
      kv_gate::pass replying(common->replies);
      idle_limited_request request(*mine->peer, common->idle_seconds);
      kv_incoming const incoming = kv_read_request(request);
      {
        kv_gate::pass working(common->work);
        if (replying.enter() && working.enter())
          common->service.reply(session, incoming, request);
        else
          kv_write_values(request, kv_stopping_reply());
      }
      request.consume_request();
    }
  } catch (...) {
    // The client has gone (the int 0 of a closed connection, the code of a failed or idle
    // read) or its reply could not be sent: the connection ends.
  }
  {
    kv_gate::pass last(common->work);
    if (last.enter()) common->service.connection_closed(session);
  }
  mine.reset();  // closes the connection
  common->open.fetch_sub(1);
  running_threads.fetch_sub(1);
}
