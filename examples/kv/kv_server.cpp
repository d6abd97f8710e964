#include "kv_server.h"

#include "kv_gate.h"

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_sleep.h>
#include <wygl/qmgl_thread.h>

// What connection threads share with the server, and keep after it.
struct kv_server::shared {
  explicit shared(kv_service& s) : service(s) {}
  kv_service& service;  // used only inside the gate
  kv_gate gate;
};

// One accepted connection, handed to its thread.
struct kv_server::connection {
  std::shared_ptr<shared> common;
  std::unique_ptr<qmgl_rpc_server> peer;
};

namespace {

// A pause after a failed accept (too many open files, for example), so that a lasting
// failure does not spin.
constexpr int accept_retry_ms = 100;

}  // namespace

kv_server::kv_server(kv_service& service, std::string service_name)
    : _service_name(std::move(service_name)),
      _shared(std::make_shared<shared>(service)),
      _factory(_service_name.c_str(), qmgl_rpc_server_factory::tcp) {}

kv_server::~kv_server() = default;

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
    _shared->service.connection_opened();
    try {
      qmgl_pl_thread(serve_connection, job.get(), 0);
      job.release();  // the thread owns it now
    } catch (exc_t const&) {
      _shared->service.connection_closed();
    }
  }
  _shared->gate.close_and_wait();
}

void kv_server::stop() {
  _stopping.store(true);
  try {
    qmgl_rpc_client wake(_service_name.c_str(), "127.0.0.1");
  } catch (exc_t const&) {
    // Nothing listens any more, so nothing is waiting in accept either.
  }
}

void kv_server::serve_connection(void* job) noexcept {
  std::unique_ptr<connection> const mine(static_cast<connection*>(job));
  shared& common = *mine->common;
  kv_session session;
  try {
    while (!mine->peer->is_client_dead()) {
      // The pass ends after the request object, whose end sends the reply.
      kv_gate::pass pass(common.gate);
      qmgl_rpc_server_request request(*mine->peer);
      kv_incoming const incoming = kv_read_request(request);
      if (pass.enter())
        common.service.reply(session, incoming, request);
      else
        kv_write_values(request, kv_stopping_reply());
      request.consume_request();
    }
  } catch (...) {
    // The client has gone (the int 0 of a closed connection, the code of a failed read) or
    // its reply could not be sent: the connection ends.
  }
  kv_gate::pass last(common.gate);
  if (last.enter()) common.service.connection_closed();
}
