#include <wygl/qmgl_socket.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <wygl/qmgl_exc.h>

#include "os/last_error.h"
#include "os/socket.h"
#include "qmgl/qmgl_error_note.h"
#include "qmgl/qmgl_services.h"
#include "wytr/wytr_scope.h"

namespace {

namespace os = wygl::os;
using wytr::depth;
using wytr::operation_scope;

constexpr char source_file[] = "src/qmgl/qmgl_socket";

// The Winsock 2 SOMAXCONN: as long a queue of waiting connections as the system allows.
constexpr int longest_backlog = 0x7FFFFFFF;
constexpr int host_name_size = 255;

// The socket layer is started when the library is loaded and stopped when it is unloaded.
struct socket_layer {
  socket_layer() {
    if (os::start_sockets() != 0) exc_t::throw_last_tcpip_error(source_file, __LINE__);
  }
  ~socket_layer() { os::stop_sockets(); }
  socket_layer(socket_layer const&) = delete;
  socket_layer& operator=(socket_layer const&) = delete;
};
socket_layer const started_socket_layer;

// A failure whose call recorded no error number still fails, rather than going on with a
// handle or an address that is not there.
[[noreturn]] void raise_socket_error(int line, std::uint32_t code) {
  exc_t::throw_tcpip_error(source_file, line, code);
  throw exc_should_not_execute_t(source_file, line, "exc_should_not_execute");
}

[[noreturn]] void raise_last_socket_error(int line) {
  raise_socket_error(line, os::last_socket_error());
}

char const* printable(char const* text) {
  return text != nullptr ? text : "(null)";
}

// Winsock moves at most INT_MAX bytes a call; a longer request moves that many, which the
// contracts of read and write allow (callers loop).
int winsock_length(unsigned int length) {
  return length > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// An error text (level 0x8) whose format takes args and then, last, the system's text for
// code (%S).
template <class... Args>
void note_error_with_reason(std::uint32_t tracepoint, void const* object, std::uint32_t code,
                            char const* format, Args... args) {
  if (!wytr_enabled(wytr::level::error_text)) return;
  std::wstring const reason = wygl::wide_system_text(code);
  wytr::note(wytr::level::error_text, wytr::kind::error_text, tracepoint, object, format, args...,
             reason.c_str());
}

// Shuts a socket down both ways and closes it, with the resource event that shows the result
// of the close. Raises nothing.
void close_with_record(os::socket_handle handle, std::uint32_t tracepoint, void const* object) {
  os::shut_down_socket(handle);
  int const closed = os::close_socket(handle);
  wytr::note(wytr::level::resource, wytr::kind::resource, tracepoint, object,
             "close(_handle:0x%x) = rc == %d", handle, closed);
}

// A handle made by a construction or a reconnect that is not finished yet: shut down and
// closed again when a later step fails, so that a failed attempt leaves nothing open. The
// thread's last socket error stays that of the failed step.
class new_socket {
 public:
  new_socket() : new_socket(os::open_tcp_socket()) {}
  // Takes a handle that accept or socket gave; their failure (invalid_socket) is raised.
  explicit new_socket(os::socket_handle handle) : _handle(handle) {
    if (_handle == os::invalid_socket) raise_last_socket_error(__LINE__);
  }
  ~new_socket() {
    if (_handle == os::invalid_socket) return;
    std::uint32_t const code = os::last_socket_error();
    os::shut_down_socket(_handle);
    os::close_socket(_handle);
    os::set_last_socket_error(code);
  }
  new_socket(new_socket const&) = delete;
  new_socket& operator=(new_socket const&) = delete;

  os::socket_handle get() const { return _handle; }
  // The attempt succeeded: the handle now belongs to its object.
  os::socket_handle release() {
    os::socket_handle const handle = _handle;
    _handle = os::invalid_socket;
    return handle;
  }

 private:
  os::socket_handle _handle;
};

// setsockopt of an int option to 1; on failure an error text from the operation at
// tracepoint, then the socket error is raised.
void switch_on(os::socket_handle handle, os::socket_option option, std::uint32_t tracepoint,
               void const* object) {
  if (os::set_socket_option(handle, option, 1) == 0) return;
  std::uint32_t const code = os::last_socket_error();
  note_error_with_reason(tracepoint, object, code, "ERROR in setsockopt failure rc=%d\n%S",
                         static_cast<int>(code));
  os::set_last_socket_error(code);
  raise_last_socket_error(__LINE__);
}

// bind, listen and connect: on failure an error text with the code, then that code is raised
// (the new socket is closed on the way out).
void check_step(int result, char const* failure_format, std::uint32_t tracepoint,
                void const* object, int line) {
  if (result >= 0) return;
  std::uint32_t const code = os::last_socket_error();
  wytr::note(wytr::level::error_text, wytr::kind::error_text, tracepoint, object, failure_format,
             static_cast<int>(code));
  raise_socket_error(line, code);
}

std::uint16_t port_of_service(char const* service, void const* object) {
  operation_scope scope(wytr::tp::socket_service_lookup, depth::public_operation, object,
                        "Service Name:%s", printable(service));
  std::uint16_t port = 0;
  if (!wygl::service_port(service, port)) raise_last_socket_error(__LINE__);
  return port;
}

std::uint32_t address_of_host(char const* host, void const* object) {
  operation_scope scope(wytr::tp::socket_host_lookup, depth::public_operation, object,
                        "Host Name:%s", printable(host));
  std::uint32_t address = os::parse_ipv4_address(host);
  if (address != os::no_address) return address;
  if (!os::host_address(host, address)) raise_last_socket_error(__LINE__);
  return address;
}

}  // namespace

qmgl_socket_factory::qmgl_socket_factory(char const* service, type socket_type)
    : wytr_class(0), _handle(os::invalid_socket) {
  operation_scope scope(wytr::tp::socket_factory_constructor, depth::public_operation, this,
                        "%s, %d", printable(service), static_cast<int>(socket_type));
  listen_on(service, nullptr);
}

qmgl_socket_factory::qmgl_socket_factory(char const* service, char const* host)
    : wytr_class(0), _handle(os::invalid_socket) {
  operation_scope scope(wytr::tp::socket_factory_constructor, depth::public_operation, this,
                        "%s, %s", printable(service), printable(host));
  listen_on(service, host);
}

// The lookups run before the socket is made, so that a name that cannot be found leaves no
// socket behind.
void qmgl_socket_factory::listen_on(char const* service, char const* host) {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_factory_constructor;
  os::ipv4_address address;
  address.port = port_of_service(service, this);
  address.address = host != nullptr ? address_of_host(host, this) : os::any_address;
  new_socket listening;
  switch_on(listening.get(), os::socket_option::reuse_address, tracepoint, this);
  check_step(os::bind_socket(listening.get(), address), "ERROR bind failure rc=%d\n", tracepoint,
             this, __LINE__);
  check_step(os::listen_on_socket(listening.get(), longest_backlog), "ERROR listen failure rc=%d\n",
             tracepoint, this, __LINE__);
  _handle = listening.release();
  wytr::note(wytr::level::state_note, wytr::kind::state_note, tracepoint, this,
             "socket handle(Socket Factory) = 0x%x", _handle);
}

qmgl_socket_factory::~qmgl_socket_factory() {
  operation_scope scope(wytr::tp::socket_factory_destructor, depth::public_operation, this);
  close_with_record(_handle, wytr::tp::socket_factory_destructor, this);
}

qmgl_socket::qmgl_socket(qmgl_socket_factory& factory)
    : wytr_class(0),
      _handle(os::invalid_socket),
      _is_closed(false),
      _retry_count(0),
      _select_wait(false),
      _select_seconds(0) {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_constructor;
  operation_scope scope(tracepoint, depth::public_operation, this, "%p",
                        static_cast<void const*>(&factory));
  os::socket_handle const accepted = os::accept_connection(factory._handle);
  wytr::note(wytr::level::state_note, wytr::kind::state_note, tracepoint, this,
             "socket handle = 0x%x", accepted);
  new_socket taken(accepted);
  switch_on(taken.get(), os::socket_option::keep_alive, tracepoint, this);
  _handle = taken.release();
}

qmgl_socket::qmgl_socket(char const* service, char const* host)
    : wytr_class(0),
      _handle(os::invalid_socket),
      _is_closed(false),
      _host(host),
      _service(service),
      _retry_count(0),
      _select_wait(false),
      _select_seconds(0) {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_constructor;
  operation_scope scope(tracepoint, depth::public_operation, this, "%s, %s", printable(service),
                        printable(host));
  if (host == nullptr || *host == '\0') {
    char name[host_name_size] = {};
    if (os::local_host_name(name, host_name_size) != 0) raise_last_socket_error(__LINE__);
    _host = name;
  }
  _handle = connect_to_service(tracepoint);
}

qmgl_socket::~qmgl_socket() {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_destructor;
  operation_scope scope(tracepoint, depth::public_operation, this, "Handle:0x%X", _handle);
  if (!_is_closed) close_with_record(_handle, tracepoint, this);
}

// A handle is closed once: a second call finds the socket closed and leaves the handle alone,
// since its number may by then belong to another socket.
void qmgl_socket::close_socket() {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_close_socket;
  operation_scope scope(tracepoint, depth::public_operation, this, "Handle:0x%X", _handle);
  if (_is_closed) return;
  close_with_record(_handle, tracepoint, this);
  _is_closed = true;
  // What was received ahead belongs to the connection just closed.
  _ahead.reset();
  _ahead_begin = 0;
  _ahead_end = 0;
}

// The attempt is counted before anything can fail. Until the new connection stands the socket
// stays closed, with no handle: after a failed attempt close_socket and the destructor have
// nothing to close, and the next reconnect simply tries again.
void qmgl_socket::reconnect() {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_reconnect;
  operation_scope scope(tracepoint, depth::public_operation, this);
  close_socket();
  ++_retry_count;
  _handle = os::invalid_socket;
  _handle = connect_to_service(tracepoint);
  _is_closed = false;
}

void qmgl_socket::doSelectWait(int seconds) {
  _select_wait = true;
  _select_seconds = seconds;
}

std::uint32_t qmgl_socket::connect_to_service(std::uint32_t tracepoint) {
  new_socket connecting;
  wytr::note(wytr::level::state_note, wytr::kind::state_note, tracepoint, this,
             "socket handle = 0x%x", connecting.get());
  switch_on(connecting.get(), os::socket_option::keep_alive, tracepoint, this);
  os::ipv4_address address;
  address.port = port_of_service(_service, this);
  address.address = address_of_host(_host, this);
  check_step(os::connect_socket(connecting.get(), address), "ERROR connect failure rc=%d\n",
             tracepoint, this, __LINE__);
  return connecting.release();
}

unsigned int qmgl_socket::read(void* buffer, unsigned int length) {
  if (unsigned int const ahead = std::min(length, ahead_count()); ahead != 0) {
    std::memcpy(buffer, ahead_bytes(), ahead);
    drop_ahead(ahead);
    return ahead;
  }
  return receive(buffer, length);
}

void qmgl_socket::start_receiving_ahead() noexcept {
  if (!_ahead) _ahead.reset(new (std::nothrow) char[ahead_size]);
}

unsigned int qmgl_socket::receive_ahead() {
  start_receiving_ahead();
  if (!_ahead) throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  unsigned int const count = receive(_ahead.get(), ahead_size);
  _ahead_begin = 0;
  _ahead_end = count;
  return count;
}

void qmgl_socket::put_back_ahead(char const* data, unsigned int count) {
  unsigned int const kept = ahead_count();
  std::size_t const total = std::size_t{kept} + count;
  std::unique_ptr<char[]> joined(new (std::nothrow) char[std::max<std::size_t>(total, ahead_size)]);
  if (!joined) throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  std::memcpy(joined.get(), data, count);
  if (kept != 0) std::memcpy(joined.get() + count, ahead_bytes(), kept);
  _ahead = std::move(joined);
  _ahead_begin = 0;
  _ahead_end = static_cast<unsigned int>(total);
}

unsigned int qmgl_socket::receive(void* buffer, unsigned int length) {
  constexpr std::uint32_t tracepoint = wytr::tp::socket_read;
  if (_select_wait) {
    int const selected = os::wait_readable(_handle, _select_seconds);
    if (selected != 1) {
      std::uint32_t const code = os::last_socket_error();
      note_error_with_reason(tracepoint, this, code,
                             "ERROR Socket(0x%X) Select selcRC=%d(0x%X)rc=%d\n%S", _handle,
                             selected, static_cast<unsigned int>(selected), static_cast<int>(code));
      os::set_last_socket_error(code);
      throw static_cast<unsigned long>(code);
    }
  }
  int const received = os::receive(_handle, buffer, winsock_length(length));
  if (received == os::socket_error) {
    std::uint32_t const code = os::last_socket_error();
    note_error_with_reason(tracepoint, this, code, "ERROR Socket Recv rc=%d\n%S",
                           static_cast<int>(code));
    os::set_last_socket_error(code);
    throw static_cast<unsigned long>(code);
  }
  return static_cast<unsigned int>(received);
}

unsigned int qmgl_socket::write(void* buffer, unsigned int length) {
  int const sent = os::send_bytes(_handle, buffer, winsock_length(length));
  if (sent == os::socket_error) {
    std::uint32_t const code = os::last_socket_error();
    note_error_with_reason(wytr::tp::socket_write, this, code, "ERROR Socket(0x%X) write rc=%d\n%S",
                           _handle, static_cast<int>(code));
    os::set_last_socket_error(code);
    raise_last_socket_error(__LINE__);
  }
  return static_cast<unsigned int>(sent);
}
