// qmgl_socket.h - TCP stream sockets over IPv4.
//
// A qmgl_socket_factory listens on a named service; each qmgl_socket made from it is the next
// accepted connection. A qmgl_socket made from a service and a host connects to them. A
// connected socket reads (optionally after waiting in select for a bounded time) and writes
// raw bytes, and can be closed and connected again to the same service and host.
//
//   qmgl_socket_factory listener("echo", qmgl_socket_factory::tcp);   // server side
//   qmgl_socket peer(listener);                                       // next connection
//
//   qmgl_socket client("echo", "127.0.0.1");                          // client side
//   client.doSelectWait(5);
//   char reply[64];
//   unsigned int n = client.read(reply, sizeof reply);                // 0: peer closed
//
// Services are names, looked up first in the file named by the environment variable
// WYGL_SERVICES (services(5) format: "name port/tcp"), then in the system's services database.
// A decimal number given as a service is looked up as a name too. Hosts are dotted IPv4
// addresses or host names; the first address of a name is used.
//
// Errors are in Windows Sockets numbering on every platform (10061 connection refused, 10060
// timed out, 10048 address in use, ...). Failures of construction, lookup and write raise
// through exc_t::throw_tcpip_error (qmgl_exc.h), with the file src/qmgl/qmgl_socket. A failed
// or timed-out read throws the plain error code as an unsigned long, not an exc_t.
//
// Tracing: trace class 0x140D0000 (socket) and 0x140E0000 (factory). Constructors,
// destructors, close_socket, reconnect and the lookups are operation scopes at level 0x1000;
// failures write error texts (level 0x8), handles appear in state notes (level 0x40000) and
// every close in a resource event (level 0x4000) with its result. At level 0x800 a socket or
// factory writes only its destruction record: its constructors write their entry record
// instead of a construction record.
//
// Thread safety: a socket or factory is used by one thread at a time.

#ifndef WYGL_QMGL_SOCKET_H
#define WYGL_QMGL_SOCKET_H

#include <cstdint>
#include <memory>

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/wygl_export.h>
#include <wygl/wytr.h>

// A listening TCP socket bound to a service.
struct WYGL_API qmgl_socket_factory
    : qmgl_ban_copy,
      public wytr_class<wytr::kind_word(wytr::kind::constructed), wytr::level::lifetime,
                        wytr::tp::socket_factory_lifetime, qmgl_socket_factory> {
  // Every factory makes a TCP stream socket; the type only appears in the trace.
  enum type { tcp = 1 };

  // Listens on all local addresses of the service's port, with SO_REUSEADDR. Raises the
  // socket error of the lookup, socket, setsockopt, bind or listen; whatever fails after the
  // socket is made, the new handle is closed first. A port that another listener holds is
  // refused with 10048 on POSIX systems (10013 under Wine), while Windows lets a socket with
  // SO_REUSEADDR share it.
  qmgl_socket_factory(char const* service, type socket_type);
  // Listens on the first address of host, or on all local addresses when host is null. The
  // lookups run first, so an unknown service or host leaves no socket behind.
  qmgl_socket_factory(char const* service, char const* host);
  // Shuts down and closes the listening socket. Raises nothing.
  ~qmgl_socket_factory();

 private:
  friend struct qmgl_socket;
  void listen_on(char const* service, char const* host);

  std::uint32_t _handle;
};

// One connected TCP stream socket.
struct WYGL_API qmgl_socket
    : qmgl_ban_copy,
      public wytr_class<wytr::kind_word(wytr::kind::constructed), wytr::level::lifetime,
                        wytr::tp::socket_lifetime, qmgl_socket> {
  // Blocks until the next connection on factory arrives, then takes it (with SO_KEEPALIVE).
  // Raises the socket error of accept or setsockopt.
  explicit qmgl_socket(qmgl_socket_factory& factory);
  // Connects to service on host (with SO_KEEPALIVE); a null or empty host means this
  // machine's host name, which is then kept for reconnect. Raises the socket error of the
  // lookups (11004 for a service that neither the WYGL_SERVICES file nor the system knows),
  // socket, setsockopt or connect (10061 when nothing listens); whatever fails, the new handle
  // is closed first.
  qmgl_socket(char const* service, char const* host);
  // Closes the socket unless close_socket did. Raises nothing.
  ~qmgl_socket();

  // Shuts down and closes the socket; afterwards only reconnect and destruction are useful.
  // A second call without a reconnect in between closes nothing (it only writes its entry
  // and exit records): the old handle's number may already belong to another socket. Raises
  // nothing.
  void close_socket();
  // Closes the socket, counts the attempt, then connects again to the same service and host,
  // looking both up again. Raises as the connecting constructor; after a failure the socket
  // is closed (as after close_socket, with no handle left: the handle made for the attempt
  // has been closed too), the attempt stays counted and a later reconnect tries again. A
  // socket that was accepted has no service, so its reconnect fails in the service lookup.
  void reconnect();
  int get_retry_count() const { return _retry_count; }
  void reset_retry_counter() { _retry_count = 0; }
  // Makes every later read wait first in select for at most seconds, and fail with the
  // socket error code (an unsigned long) when nothing arrives in that time.
  void doSelectWait(int seconds);

  // Receives at most length bytes into buffer; 0 once the peer has closed its side. A length
  // above INT_MAX receives at most INT_MAX bytes. Bytes an RPC stream on this socket received
  // ahead of its reads (see qmgl_rpc.h) come first, without a wait or a receive. Throws the socket
  // error code as an unsigned long when the wait times out or the receive fails. A time-out sets no
  // error of its own: its code is the thread's last socket error as the system leaves it (on POSIX
  // systems unchanged; Wine's select clears it to 0).
  unsigned int read(void* buffer, unsigned int length);
  // Sends up to length bytes from buffer (at most INT_MAX) and returns how many went; callers
  // loop. Sending to a peer that has gone raises an error, never a signal. Raises the socket
  // error through exc_t::throw_last_tcpip_error.
  unsigned int write(void* buffer, unsigned int length);

 private:
  // The RPC streams receive up to ahead_size bytes at a time and read them in smaller chunks;
  // what they received and have not read yet waits here, in front of the connection's
  // unreceived bytes.
  friend struct qmgl_rpc_input_output;
  static constexpr unsigned int ahead_size = 65536;
  unsigned int ahead_count() const { return _ahead_end - _ahead_begin; }
  char const* ahead_bytes() const { return _ahead.get() + _ahead_begin; }
  void drop_ahead(unsigned int count) { _ahead_begin += count; }
  // Whether the socket has the memory for bytes ahead; start_receiving_ahead makes it when
  // it can (a failure leaves the socket without).
  bool receives_ahead() const { return _ahead != nullptr; }
  void start_receiving_ahead() noexcept;
  // With nothing ahead: waits and receives as read does, up to ahead_size bytes, into the
  // bytes ahead; returns the count (0 once the peer has closed). Raises
  // exc_not_enough_memory_t when the memory for them cannot be had.
  unsigned int receive_ahead();
  // Puts count bytes at data back in front of the bytes ahead. Raises
  // exc_not_enough_memory_t, leaving the bytes ahead as they were.
  void put_back_ahead(char const* data, unsigned int count);
  // The wait and the receive of read, without the bytes ahead.
  unsigned int receive(void* buffer, unsigned int length);
  // A new connected handle to _service on _host; tracepoint names the calling operation in
  // the records.
  std::uint32_t connect_to_service(std::uint32_t tracepoint);

  std::uint32_t _handle;
  bool _is_closed;
  qmgl_ntarray_of<char, 0> _host;
  qmgl_ntarray_of<char, 0> _service;
  int _retry_count;
  bool _select_wait;
  int _select_seconds;
  // Bytes ahead: [_ahead_begin, _ahead_end) of _ahead, which holds at least ahead_size bytes
  // once made (more after a put back).
  std::unique_ptr<char[]> _ahead;
  unsigned int _ahead_begin = 0;
  unsigned int _ahead_end = 0;
};

#endif  // WYGL_QMGL_SOCKET_H
