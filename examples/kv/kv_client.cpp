#include "kv_client.h"

#include <optional>

#include <wygl/qmgl_exc.h>

#include "kv_service.h"

namespace {

std::atomic<kv_stage>* entering(std::atomic<kv_stage>* stage) {
  if (stage != nullptr) stage->store(kv_stage::connecting);
  return stage;
}

// The answer of a server that refused the request before it had all of it, if it came.
std::optional<std::vector<qmgl_value>> answer_before_close(qmgl_input& call) {
  try {
    std::vector<qmgl_value> values = kv_read_values(call);
    if (!values.empty()) return values;
  } catch (...) {
    // No answer came.
  }
  return std::nullopt;
}

// A request whose reads wait at most a given time for data (none when it is 0). The wait is a
// setting of the client's socket, which only a request can reach.
struct waiting_request : qmgl_rpc_client_request {
  waiting_request(qmgl_rpc_client& client, int seconds) : qmgl_rpc_client_request(client) {
    if (seconds > 0) _socket.doSelectWait(seconds);
  }
};

}  // namespace

kv_client::kv_client(char const* service, char const* host, std::atomic<kv_stage>* stage)
    : _stage(entering(stage)), _client(service, host) {}

void kv_client::enter(kv_stage stage) {
  if (_stage != nullptr) _stage->store(stage);
}

template <class Write>
std::vector<qmgl_value> kv_client::exchange(Write const& write) {
  waiting_request call(_client, _reply_wait_seconds);
  write(call);
  enter(kv_stage::sending);
  try {
    call.end_of_request();
  } catch (exc_t const&) {
    if (auto answer = answer_before_close(call)) {
      enter(kv_stage::done);
      return *answer;
    }
    throw;
  }
  enter(kv_stage::receiving);
  std::vector<qmgl_value> reply = kv_read_values(call);
  enter(kv_stage::done);
  return reply;
}

std::vector<qmgl_value> kv_client::call(std::vector<qmgl_value> const& request) {
  return exchange([&request](qmgl_output& out) { kv_write_values(out, request); });
}

std::vector<qmgl_value> kv_client::call_text(char const* text) {
  return exchange([text](qmgl_output& out) { out << text; });
}

std::string kv_reply_text(std::vector<qmgl_value> const& values) {
  std::string text;
  for (qmgl_value const& v : values) {
    qmgl_ntarray_of<char, 0> one;
    qmgl_output_str out(one);
    v.stream_out(out);
    std::string item(one, one.length());
    item.erase(item.find_last_not_of(' ') + 1);
    text += (text.empty() ? "" : " ") + item;
  }
  return text;
}
