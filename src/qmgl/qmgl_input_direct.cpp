#include "qmgl/qmgl_input_direct.h"

#include <algorithm>
#include <cstring>

#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_rpc.h>

#include "qmgl/qmgl_exact_class.h"

qmgl_input_direct::qmgl_input_direct(qmgl_input& in) noexcept {
  if (auto* const text = qmgl_exactly<qmgl_input_str>(in)) {
    _input = text;
    _kind = kind::string;
  } else if (auto* const file = qmgl_exactly<qmgl_input_file>(in)) {
    _input = file;
    _kind = kind::file;
  } else if (qmgl_rpc_input_output* const rpc = rpc_stream(in)) {
    _input = rpc;
    _kind = kind::rpc;
  }
}

qmgl_rpc_input_output* qmgl_input_direct::rpc_stream(qmgl_input& in) noexcept {
  // The requests only add to the stream's filling and sending, not to its reading.
  if (auto* rpc = qmgl_exactly<qmgl_rpc_client_request>(in)) return rpc;
  if (auto* rpc = qmgl_exactly<qmgl_rpc_server_request>(in)) return rpc;
  return qmgl_exactly<qmgl_rpc_input_output>(in);
}

template <class Source>
qmgl_input_direct::span qmgl_input_direct::buffered_window(Source& source,
                                                           std::size_t most) noexcept {
  char const* const begin = source.unread_bytes();
  std::size_t const held = std::min(most, source.unread_count());
  auto const* const nul = static_cast<char const*>(std::memchr(begin, '\0', held));
  return {begin, nul != nullptr ? nul : begin + held};
}

qmgl_input_direct::span qmgl_input_direct::window(std::size_t most) const noexcept {
  if (_input == nullptr || _input->_have_returned_char || _input->_echo_target != nullptr ||
      _input->_at_end)
    return {nullptr, nullptr};
  switch (_kind) {
    case kind::string: {
      // The window ends at the string's own NUL, or sooner: the string is read no further.
      char const* const begin = static_cast<qmgl_input_str*>(_input)->_position;
      return {begin, begin + ::strnlen(begin, most)};
    }
    case kind::file:
      return buffered_window(*static_cast<qmgl_input_file*>(_input), most);
    case kind::rpc:
      return buffered_window(*static_cast<qmgl_rpc_input_output*>(_input), most);
    case kind::none:
      break;
  }
  return {nullptr, nullptr};
}

void qmgl_input_direct::take(char const* begin, char const* to, bool returned) noexcept {
  auto const count = static_cast<std::size_t>(to - begin);
  switch (_kind) {
    case kind::string:
      static_cast<qmgl_input_str*>(_input)->_position = to;
      break;
    case kind::file:
      static_cast<qmgl_input_file*>(_input)->skip_unread(count);
      break;
    case kind::rpc:
      static_cast<qmgl_rpc_input_output*>(_input)->skip_unread(count);
      break;
    case kind::none:
      return;
  }
  _input->_last_char = to[-1];
  _input->_have_returned_char = returned;
}
