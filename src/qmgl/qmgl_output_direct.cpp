#include "qmgl/qmgl_output_direct.h"

#include <cstring>

#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_rpc.h>

#include "qmgl/qmgl_exact_class.h"
#include "qmgl/qmgl_ntarray_build.h"

namespace {

// The buffer of out when out is exactly one of the library's buffered sinks, whose
// really_put_char does nothing but put_buffered_char.
qmgl_output_buffer_mixin* collecting_buffer(qmgl_output& out) noexcept {
  if (auto* rpc = qmgl_exactly<qmgl_rpc_client_request>(out)) return rpc;
  if (auto* rpc = qmgl_exactly<qmgl_rpc_server_request>(out)) return rpc;
  if (auto* rpc = qmgl_exactly<qmgl_rpc_input_output>(out)) return rpc;
  if (auto* file = qmgl_exactly<qmgl_output_file>(out)) return file;
  return nullptr;
}

}  // namespace

qmgl_output_direct::qmgl_output_direct(qmgl_output& out) noexcept : _out(out) {
  if (auto* const sink = qmgl_exactly<qmgl_output_str>(out)) {
    if (sink->_echo_target != nullptr) return;
    _kind = kind::string;
    _string = &sink->_target;
  } else if (auto* const hole = qmgl_exactly<qmgl_output_black_hole>(out)) {
    if (hole->_echo_target == nullptr) _kind = kind::discard;
  } else if (qmgl_output_buffer_mixin* const buffer = collecting_buffer(out)) {
    // The buffered sinks are also output streams through qmgl_output_imp.
    if (static_cast<qmgl_output_imp&>(out)._echo_target != nullptr) return;
    _kind = kind::buffer;
    _buffer = buffer;
  }
}

void qmgl_output_direct::release() noexcept {
  if (_at == nullptr) return;
  std::size_t const written = static_cast<std::size_t>(_at - _synced);
  if (_kind == kind::string)
    qmgl_ntarray_extend(*_string, written);
  else
    _buffer->added(written);
  _synced = _at = _end = nullptr;
}

char* qmgl_output_direct::make_room(std::size_t n) {
  switch (_kind) {
    case kind::string:
      release();
      _at = qmgl_ntarray_room(*_string, n);
      _end = _at + (_string->_imp->room - _string->_imp->length);
      break;
    case kind::buffer:
      release();
      _at = _buffer->room_for(n);
      _end = _buffer->_buffer + _buffer->usable_memory();
      break;
    default:
      return _staging;
  }
  _synced = _at;
  return _at;
}

void qmgl_output_direct::deliver(std::size_t n) {
  if (_kind == kind::per_character) write_each(_staging, n);
}

void qmgl_output_direct::write_each(char const* data, std::size_t n) {
  if (_kind == kind::discard) return;
  for (std::size_t i = 0; i < n; ++i)
    _out.put_char(data[i]);
}

void qmgl_output_direct::write_one(char c) {
  switch (_kind) {
    case kind::string:
      // A NUL leaves the text as it is: the string's own append knows how.
      release();
      qmgl_ntarray_append(*_string, c);
      return;
    case kind::buffer:
      *room(1) = c;
      ++_at;
      return;
    case kind::discard:
      return;
    case kind::per_character:
      _out.put_char(c);
      return;
  }
}
