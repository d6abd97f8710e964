#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_rpc.h>

#include "wytr/wytr_scope.h"

namespace {

using wytr::depth;
using wytr::note;
using wytr::operation_scope;

constexpr char source_file[] = "src/qmgl/qmgl_rpc";

// The largest number of bytes one fill_buffer asks the socket for.
constexpr unsigned int chunk_size = 16384;

char const* or_empty(char const* text) {
  return text != nullptr ? text : "";
}

// The one shape of every transfer step of a request: an operation scope around the
// stream's own step; a failure writes its record, marks the peer dead and passes on
// unchanged.
template <class Step>
void marking_peer_dead(std::uint32_t tracepoint, void const* object, bool& peer_dead,
                       std::uint32_t level, std::uint8_t kind, char const* failure_text,
                       Step step) {
  operation_scope const scope(tracepoint, depth::public_operation, object);
  try {
    step();
  } catch (...) {
    scope.note(level, kind, failure_text);
    peer_dead = true;
    throw;
  }
}

// What a failure that must not leave a destructor leaves behind: the peer marked dead and
// an error text.
void drop_failure(std::uint32_t tracepoint, void const* object, bool& peer_dead,
                  char const* text) noexcept {
  peer_dead = true;
  note(wytr::level::error_text, wytr::kind::error_text, tracepoint, object, "%s", text);
}

// The %S conversion takes the platform's wide characters; the host's UTF-16 units are
// widened one by one, which keeps every host name (ASCII) as it is.
std::wstring platform_wide(unsigned short const* text) {
  std::wstring wide;
  if (text != nullptr)
    for (; *text != 0; ++text)
      wide += static_cast<wchar_t>(*text);
  return wide;
}

qmgl_socket_factory::type socket_type_for(qmgl_rpc_server_factory::type t) {
  return t == qmgl_rpc_server_factory::unspecified ? static_cast<qmgl_socket_factory::type>(0)
                                                   : qmgl_socket_factory::tcp;
}

}  // namespace

// ---- the stream ----

qmgl_rpc_input_output::qmgl_rpc_input_output(qmgl_socket& socket)
    : _socket(socket), _exceptions_at_construction(std::uncaught_exceptions()) {}

qmgl_rpc_input_output::~qmgl_rpc_input_output() noexcept(false) = default;

bool qmgl_rpc_input_output::unwinding() const {
  return std::uncaught_exceptions() > _exceptions_at_construction;
}

void qmgl_rpc_input_output::limit_incoming_message(std::size_t bytes) {
  _message_limit = bytes;
  // The body and its 0x00; no limit stays no limit.
  _room_left = bytes == qmgl_rpc_no_message_limit ? bytes : bytes + 1;
}

void qmgl_rpc_input_output::refuse_message() {
  _over_limit = true;
  mark_at_end();
  char message[96];
  std::snprintf(message, sizeof message, "RPC message longer than the limit of %llu bytes",
                static_cast<unsigned long long>(_message_limit));
  throw exc_range_overflow_t(source_file, __LINE__, message);
}

char qmgl_rpc_input_output::really_get_char() {
  int const c = get_buffered_char();
  if (c >= 0) return static_cast<char>(c);
  mark_at_end();
  return '\0';
}

void qmgl_rpc_input_output::really_put_char(char c) {
  put_buffered_char(c);
}

void qmgl_rpc_input_output::put_block(char const* data, std::size_t length) {
  if (!writes_directly()) {
    for (std::size_t i = 0; i < length; ++i)
      put_char(data[i]);
    return;
  }
  put_buffered_chars(data, length);
}

std::size_t qmgl_rpc_input_output::get_block(char* into, std::size_t capacity) {
  std::size_t stored = 0;
  try {
    while (stored < capacity && !empty()) {
      if (!reads_directly()) {
        char const c = get_char();
        if (c == '\0') break;
        into[stored++] = c;
        continue;
      }
      if (unread_count() == 0 && (capacity - stored >= chunk_size || _landed_ahead_count != 0)) {
        // The chunk goes straight to the caller: the copies into and out of the input buffer
        // are saved, and the stream reads the same chunks.
        char* const landing = into + stored;
        std::size_t const landed = fill_into(landing, capacity - stored);
        if (landed > 0) {
          auto const* const nul = static_cast<char const*>(std::memchr(landing, '\0', landed));
          if (nul == nullptr) {
            stored += landed;
            note_read(landing[landed - 1]);
            continue;
          }
          // The message ends here; bytes after its 0x00 wait in the input buffer.
          stored += static_cast<std::size_t>(nul - landing);
          add_data(nul + 1, static_cast<std::size_t>(landing + landed - nul - 1));
          note_read('\0');
          break;
        }
        if (unread_count() == 0) {  // the source ended, as really_get_char reports it
          note_read('\0');
          break;
        }
      }
      std::size_t const moved = get_buffered_chars(into + stored, capacity - stored);
      if (moved == 0) {  // the source ended, as really_get_char reports it
        note_read('\0');
        break;
      }
      stored += moved;
      note_read(into[stored - 1]);
      if (into[stored - 1] == '\0') {
        --stored;
        break;
      }
    }
  } catch (...) {
    put_back_landed_ahead();
    throw;
  }
  put_back_landed_ahead();
  return stored;
}

void qmgl_rpc_input_output::put_back_landed_ahead() {
  if (_landed_ahead_count == 0) return;
  _socket.put_back_ahead(_landed_ahead, static_cast<unsigned int>(_landed_ahead_count));
  _landed_ahead = nullptr;
  _landed_ahead_count = 0;
}

std::size_t qmgl_rpc_input_output::fill_into(char* landing, std::size_t room) {
  clear_data();  // as an empty buffer is refilled
  _landing = landing;
  _landing_room = room;
  _landed = 0;
  try {
    fill_buffer();
  } catch (...) {
    _landing = nullptr;
    throw;
  }
  _landing = nullptr;
  return _landed;
}

// Where the next chunk comes from: the bytes a landing received beyond its chunk (they lie
// where the next landing begins), the bytes ahead on the socket, or a receive. A receive
// takes up to 64 KB at once where that memory is at hand (the landing's room, or the socket's
// bytes ahead once a receive has filled a whole chunk); each chunk is at most 16384 bytes of
// it, as a receive of that size would have given.
qmgl_rpc_input_output::chunk qmgl_rpc_input_output::next_chunk(char* stack_chunk) {
  if (_landed_ahead_count != 0) {
    chunk const taken{_landed_ahead, std::min<std::size_t>(_landed_ahead_count, chunk_size)};
    _landed_ahead += taken.count;
    _landed_ahead_count -= taken.count;
    return taken;
  }
  if (_socket.ahead_count() == 0) {
    if (_landing != nullptr) {
      auto const want =
          static_cast<unsigned int>(std::min<std::size_t>(_landing_room, qmgl_socket::ahead_size));
      std::size_t const count = _socket.read(_landing, want);
      if (count <= chunk_size) return {_landing, count};
      _landed_ahead = _landing + chunk_size;
      _landed_ahead_count = count - chunk_size;
      return {_landing, chunk_size};
    }
    if (!_socket.receives_ahead()) {
      unsigned int const count = _socket.read(stack_chunk, chunk_size);
      // A full chunk: long messages come this way, so receive ahead from now on.
      if (count == chunk_size) _socket.start_receiving_ahead();
      return {stack_chunk, count};
    }
    if (_socket.receive_ahead() == 0) return {nullptr, 0};
  }
  return {_socket.ahead_bytes(), std::min<std::size_t>(_socket.ahead_count(), chunk_size), true};
}

void qmgl_rpc_input_output::fill_buffer() {
  constexpr std::uint32_t tp = wytr::tp::rpc_io_fill_buffer;
  // One chunk on the reader's stack: no heap memory per chunk, and the trace writers already
  // rely on far larger stack buffers.
  char stack_chunk[chunk_size];
  try {
    if (_over_limit) refuse_message();  // nothing more of a refused message is read
    note(wytr::level::wait_note, wytr::kind::wait_note, tp, this, "Waiting for Socket Read");
    chunk const got = next_chunk(stack_chunk);
    note(wytr::level::wait_note, wytr::kind::wait_note, tp, this, "After Socket Read:%d",
         static_cast<int>(got.count));
    if (got.count == 0) {
      note(wytr::level::error_text, wytr::kind::error_text, tp, this,
           "ERROR: Invalid Length=%d in fill buffer.", 0);
      throw 0;
    }
    bool const refused = got.count > _room_left;
    if (!refused) {
      _room_left -= got.count;
      if (_landing == nullptr) {
        add_data(got.data, got.count);
      } else {
        if (got.data != _landing) std::memmove(_landing, got.data, got.count);
        _landed = got.count;
      }
    }
    // Taken, or refused with the rest of its message: either way the chunk has been read.
    if (got.ahead) _socket.drop_ahead(static_cast<unsigned int>(got.count));
    if (refused) refuse_message();
  } catch (...) {
    note(wytr::level::error_text, wytr::kind::error_text, tp, this,
         "ERROR: thrown in fill buffer.");
    throw;
  }
}

void qmgl_rpc_input_output::flush() {
  flush_buffer();
}

void qmgl_rpc_input_output::really_flush_buffer(char const* data, int length) {
  auto const total = static_cast<unsigned int>(length);
  // write takes a mutable pointer but only reads through it.
  char* const bytes = const_cast<char*>(data);
  for (unsigned int sent = 0; sent < total;)
    sent += _socket.write(bytes + sent, total - sent);
}

void qmgl_rpc_input_output::reget() {
  operation_scope const scope(wytr::tp::rpc_io_reget, depth::public_operation, this);
  clear_data();
  _over_limit = false;
  limit_incoming_message(_message_limit);
  qmgl_rpc_input_output::fill_buffer();
}

void qmgl_rpc_input_output::resend() {
  // A virtual call, so that a request's dead-peer marking applies.
  really_flush_buffer(get_last_output_buffer(), get_last_output_buffer_length());
}

// ---- server side ----

qmgl_rpc_server_factory::qmgl_rpc_server_factory(char const* service, type socket_type)
    : qmgl_socket_factory(service, socket_type_for(socket_type)) {}

qmgl_rpc_server_factory::qmgl_rpc_server_factory(char const* service, char const* host)
    : qmgl_socket_factory(service, host) {}

qmgl_rpc_server_factory::qmgl_rpc_server_factory(char const* service, unsigned short const* host)
    : qmgl_socket_factory(service, static_cast<char const*>(qmgl_uni_to_qmgl_str(host))) {}

qmgl_rpc_server_factory::~qmgl_rpc_server_factory() = default;

qmgl_rpc_server::qmgl_rpc_server(qmgl_rpc_server_factory& factory)
    : _is_client_dead(false), _socket(factory) {}

qmgl_rpc_server::~qmgl_rpc_server() = default;

qmgl_rpc_server_request::qmgl_rpc_server_request(qmgl_rpc_server& server)
    : qmgl_rpc_input_output(server._socket), _server(server) {
  limit_incoming_message(_server._message_limit);
  take_spare_memory(_server._spare_output);
}

qmgl_rpc_server_request::~qmgl_rpc_server_request() noexcept(false) {
  if (over_limit()) {
    answer_and_close();
    leave_spare_memory(_server._spare_output);
    return;
  }
  if (!unwinding()) {
    send_reply();
    leave_spare_memory(_server._spare_output);
    return;
  }
  // The handler failed: drop the rest of the request so that the connection stays in
  // step, answer what was written, and let only the first exception travel on.
  try {
    consume_request();
    send_reply();
  } catch (...) {
    drop_failure(wytr::tp::rpc_server_request_destructor, this, _server._is_client_dead,
                 "ERROR: Failure dropped during unwinding: CLIENT DIED");
  }
  leave_spare_memory(_server._spare_output);
}

void qmgl_rpc_server_request::send_reply() {
  operation_scope const scope(wytr::tp::rpc_server_request_destructor, depth::public_operation,
                              this);
  if (_server._is_client_dead) return;
  try {
    scope.note(wytr::level::state_note, wytr::kind::state_note, "!_server->_is_client_dead");
    put_char('\0');
    flush();
  } catch (...) {
    scope.note(wytr::level::state_note, wytr::kind::state_note, "set _server->_is_client_dead");
    _server._is_client_dead = true;
    throw;
  }
}

// The client of a request refused for its length is dead already; it still gets the reply,
// as far as the connection takes it, and then the connection ends.
void qmgl_rpc_server_request::answer_and_close() noexcept {
  try {
    operation_scope const scope(wytr::tp::rpc_server_request_destructor, depth::public_operation,
                                this);
    put_char('\0');
    flush();
  } catch (...) {
    // The connection ends in any case.
  }
  _socket.close_socket();
}

void qmgl_rpc_server_request::consume_request() {
  operation_scope const scope(wytr::tp::rpc_server_request_consume_request, depth::public_operation,
                              this);
  while (!_server._is_client_dead && !empty())
    get_char();
}

void qmgl_rpc_server_request::fill_buffer() {
  marking_peer_dead(wytr::tp::rpc_server_request_fill_buffer, this, _server._is_client_dead,
                    wytr::level::state_note, wytr::kind::state_note, "set _server->_is_client_dead",
                    [this] { qmgl_rpc_input_output::fill_buffer(); });
}

void qmgl_rpc_server_request::really_flush_buffer(char const* data, int length) {
  marking_peer_dead(wytr::tp::rpc_server_request_really_flush_buffer, this, _server._is_client_dead,
                    wytr::level::state_note, wytr::kind::state_note, "set _server->_is_client_dead",
                    [&] { qmgl_rpc_input_output::really_flush_buffer(data, length); });
}

// ---- client side ----

qmgl_rpc_client::qmgl_rpc_client(char const* service)
    : _is_server_dead(false), _socket(service, nullptr) {}

qmgl_rpc_client::qmgl_rpc_client(char const* service, char const* host)
    : _is_server_dead(false), _socket(service, host) {
  operation_scope const scope(wytr::tp::rpc_client_constructor, depth::public_operation, this,
                              "Service:%s Host:%s", or_empty(service), or_empty(host));
}

qmgl_rpc_client::qmgl_rpc_client(char const* service, unsigned short const* host)
    : _is_server_dead(false),
      _socket(service, static_cast<char const*>(qmgl_uni_to_qmgl_str(host))) {
  if (!wytr_enabled(wytr::level::public_entry | wytr::level::public_exit)) return;
  std::wstring const wide_host = platform_wide(host);
  operation_scope const scope(wytr::tp::rpc_client_constructor, depth::public_operation, this,
                              "Service:%s Host:%S", or_empty(service), wide_host.c_str());
}

qmgl_rpc_client::~qmgl_rpc_client() = default;

qmgl_rpc_client_request::qmgl_rpc_client_request(qmgl_rpc_client& client)
    : qmgl_rpc_input_output(client._socket), _client(client) {
  limit_incoming_message(_client._message_limit);
  note(wytr::level::state_note, wytr::kind::state_note, wytr::tp::rpc_client_request_lifetime, this,
       "Creating Client Request");
  _client._lock.request();
  take_spare_memory(_client._spare_output);
}

qmgl_rpc_client_request::~qmgl_rpc_client_request() noexcept(false) {
  // The lock is released on every way out, so that a failed exchange never leaves the
  // client's later requests waiting; only then may the failure travel on.
  bool const during_unwinding = unwinding();
  std::exception_ptr failure;
  try {
    if (!during_unwinding || _sent) drop_rest_of_reply();
  } catch (...) {
    failure = std::current_exception();
  }
  leave_spare_memory(_client._spare_output);
  try {
    _client._lock.release();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  note(wytr::level::state_note, wytr::kind::state_note, wytr::tp::rpc_client_request_lifetime, this,
       "Destroying Client Request");
  if (!failure) return;
  if (!during_unwinding) std::rethrow_exception(failure);
  drop_failure(wytr::tp::rpc_client_request_lifetime, this, _client._is_server_dead,
               "ERROR: Failure dropped during unwinding: SERVER DIED");
}

void qmgl_rpc_client_request::drop_rest_of_reply() {
  while (!_client._is_server_dead && !empty())
    get_char();
}

void qmgl_rpc_client_request::end_of_request() {
  operation_scope const scope(wytr::tp::rpc_client_request_end_of_request, depth::public_operation,
                              this);
  try {
    put_char('\0');
    flush();
  } catch (...) {
    scope.note(wytr::level::error_text, wytr::kind::error_text,
               "ERROR: Exception throw: SERVER DIED");
    _client._is_server_dead = true;
    throw;
  }
}

void qmgl_rpc_client_request::quit_without_wait() {
  _client._is_server_dead = true;
}

void qmgl_rpc_client_request::fill_buffer() {
  try {
    marking_peer_dead(wytr::tp::rpc_client_request_fill_buffer, this, _client._is_server_dead,
                      wytr::level::error_text, wytr::kind::error_text,
                      "ERROR: Catch in Catch Exception: SERVER DIED",
                      [this] { qmgl_rpc_input_output::fill_buffer(); });
  } catch (...) {
    // The rest of a reply refused for its length is never read: the connection ends.
    if (over_limit()) _socket.close_socket();
    throw;
  }
}

void qmgl_rpc_client_request::really_flush_buffer(char const* data, int length) {
  _sent = true;
  marking_peer_dead(wytr::tp::rpc_client_request_really_flush_buffer, this, _client._is_server_dead,
                    wytr::level::state_note, wytr::kind::state_note, "set _client->_is_server_dead",
                    [&] { qmgl_rpc_input_output::really_flush_buffer(data, length); });
}
