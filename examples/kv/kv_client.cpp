#include "kv_client.h"

#include "kv_service.h"

namespace {

// A request whose reads wait at most the given time (the socket is reachable only from a
// request); 0 leaves the socket as it is.
struct timed_request : qmgl_rpc_client_request {
  timed_request(qmgl_rpc_client& client, int reply_seconds) : qmgl_rpc_client_request(client) {
    if (reply_seconds > 0) _socket.doSelectWait(reply_seconds);
  }
};

// Sends what write puts into the request and reads the reply.
template <class Write>
std::vector<qmgl_value> exchange(qmgl_rpc_client& client, int reply_seconds, Write const& write) {
  timed_request call(client, reply_seconds);
  write(call);
  call.end_of_request();
  return kv_read_values(call);
}

}  // namespace

kv_client::kv_client(char const* service, char const* host, int reply_seconds)
    : _client(service, host), _reply_seconds(reply_seconds) {}

std::vector<qmgl_value> kv_client::call(std::vector<qmgl_value> const& request) {
  return exchange(_client, _reply_seconds,
                  [&request](qmgl_output& out) { kv_write_values(out, request); });
}

std::vector<qmgl_value> kv_client::call_text(char const* text) {
  return exchange(_client, _reply_seconds, [text](qmgl_output& out) { out << text; });
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
