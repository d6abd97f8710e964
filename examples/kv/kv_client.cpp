#include "kv_client.h"

#include "kv_service.h"

namespace {

// Sends what write puts into the request and reads the reply.
template <class Write>
std::vector<qmgl_value> exchange(qmgl_rpc_client& client, Write const& write) {
  qmgl_rpc_client_request call(client);
  write(call);
  call.end_of_request();
  return kv_read_values(call);
}

}  // namespace

kv_client::kv_client(char const* service, char const* host) : _client(service, host) {}

std::vector<qmgl_value> kv_client::call(std::vector<qmgl_value> const& request) {
  return exchange(_client, [&request](qmgl_output& out) { kv_write_values(out, request); });
}

std::vector<qmgl_value> kv_client::call_text(char const* text) {
  return exchange(_client, [text](qmgl_output& out) { out << text; });
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
