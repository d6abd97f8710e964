// qmgl_rpc.h - request/response calls over one TCP connection.
//
// A message is the text written into a stream with the ordinary output operators, sent as
// one block when the stream is flushed and ended on the wire by one 0x00 byte; there is no
// header. A connection carries strictly alternating messages: a request, its reply, the next
// request. The body of a message must not contain a 0x00 byte.
//
// Server side:
//
//   qmgl_rpc_server_factory endpoint("kv", qmgl_rpc_server_factory::tcp);
//   qmgl_rpc_server connection(endpoint);             // blocks until a client connects
//   while (!connection.is_client_dead()) {
//     qmgl_rpc_server_request request(connection);
//     qmgl_value v;
//     request >> v;                                   // read the request (values, text)
//     request.consume_request();                      // drop what was not read
//     request << v;                                   // the reply, sent by the destructor
//   }
//
// Client side:
//
//   qmgl_rpc_client client("kv", "127.0.0.1");
//   {
//     qmgl_rpc_client_request call(client);           // takes the client's lock
//     call << qmgl_value("get") << qmgl_value("greeting");
//     call.end_of_request();                          // sends the request
//     qmgl_value reply;
//     call >> reply;
//   }                                                 // reads the rest, releases the lock
//
// Failures of a transfer reach the caller unchanged, after the side's peer has been marked
// dead: the int 0 when the peer closed the connection, the socket error code as an unsigned
// long when a read fails or its select wait times out, and the exceptions of qmgl_socket.h
// for a failed send or connection.
//
// Thread safety: one qmgl_rpc_client may be shared by threads; its requests take turns, one
// whole exchange at a time. A request object belongs to one thread. A server connection and
// its requests are used by one thread at a time.

#ifndef WYGL_QMGL_RPC_H
#define WYGL_QMGL_RPC_H

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_socket.h>
#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// A stream over one connected socket that is both an input and an output: what is written
// collects in memory and leaves as one message on flush; what arrives is read in chunks of
// at most 16384 bytes. The socket is not owned and must outlive the stream.
struct WYGL_API qmgl_rpc_input_output : public qmgl_input_imp,
                                        public qmgl_input_buffer_mixin,
                                        public qmgl_output_imp,
                                        public qmgl_output_buffer_mixin {
  explicit qmgl_rpc_input_output(qmgl_socket& socket);
  // Sends nothing and closes nothing.
  ~qmgl_rpc_input_output() override;

  // Drops every buffered input byte and reads a fresh chunk from the socket, with this
  // class's own reading (a derived class's fill_buffer does not run).
  void reget();
  // Sends the last flushed message again, through the (derived) really_flush_buffer; before
  // the first flush with data it sends nothing.
  void resend();

 protected:
  // Reads one chunk from the socket and appends it to the input buffer. Throws the int 0
  // when the peer has closed the connection, and passes on the unsigned long of a failed
  // read.
  void fill_buffer() override;
  // Sends the buffered output as one message; nothing when the buffer is empty.
  void flush() override;
  // Writes exactly length bytes to the socket, looping over partial sends.
  void really_flush_buffer(char const* data, int length) override;

  qmgl_socket& _socket;

 private:
  char really_get_char() override;
  void really_put_char(char c) override;
};

// A listening endpoint for RPC connections.
struct WYGL_API qmgl_rpc_server_factory : public qmgl_socket_factory {
  enum type { tcp = 1 };

  // As qmgl_socket_factory's constructors (qmgl_socket.h), and raising as they do.
  qmgl_rpc_server_factory(char const* service, type socket_type);
  qmgl_rpc_server_factory(char const* service, char const* host);
  // A null wide host is the empty name, which is looked up (it does not mean all
  // addresses).
  qmgl_rpc_server_factory(char const* service, unsigned short const* host);
  ~qmgl_rpc_server_factory();
};

// One accepted RPC connection.
struct WYGL_API qmgl_rpc_server {
  // Blocks until a client connects to factory.
  explicit qmgl_rpc_server(qmgl_rpc_server_factory& factory);
  // Closes the connection.
  virtual ~qmgl_rpc_server();

  // True after any failed read or send of one of its requests.
  bool is_client_dead() { return _is_client_dead; }

 private:
  friend struct qmgl_rpc_server_request;
  bool _is_client_dead;
  qmgl_socket _socket;
};

// One RPC client connection, shareable between threads.
struct WYGL_API qmgl_rpc_client : qmgl_ban_copy_and_assignment {
  // Connects to service on this machine.
  explicit qmgl_rpc_client(char const* service);
  // Connects to service on host (this machine when null or empty).
  qmgl_rpc_client(char const* service, char const* host);
  qmgl_rpc_client(char const* service, unsigned short const* host);
  // Closes the connection.
  virtual ~qmgl_rpc_client();

  // True after any failed send or read of one of its requests, or after quit_without_wait.
  bool is_server_dead() { return _is_server_dead; }

 private:
  friend struct qmgl_rpc_client_request;
  bool _is_server_dead;
  qmgl_sync_lock_private _lock;
  qmgl_socket _socket;
};

// One call on a client: write the request, end_of_request, read the reply. Holds the
// client's lock from construction to destruction.
struct WYGL_API qmgl_rpc_client_request : public qmgl_rpc_input_output {
  // Waits without limit for the client's lock.
  explicit qmgl_rpc_client_request(qmgl_rpc_client& client);
  // Reads and drops the rest of the reply (unless the server is dead), then releases the
  // lock.
  ~qmgl_rpc_client_request() override;

  // Ends the request with its 0x00 and sends it. On failure marks the server dead and
  // passes the failure on.
  void end_of_request();
  // Marks the server dead, so that the destructor reads nothing.
  void quit_without_wait();

 protected:
  void fill_buffer() override;
  void really_flush_buffer(char const* data, int length) override;

 private:
  qmgl_rpc_client& _client;
};

// One request on a server connection: read it, consume_request, write the reply; the
// destructor sends the reply.
struct WYGL_API qmgl_rpc_server_request : public qmgl_rpc_input_output {
  explicit qmgl_rpc_server_request(qmgl_rpc_server& server);
  // Ends the reply with its 0x00 and sends it, unless the client is dead.
  ~qmgl_rpc_server_request() override;

  // Reads and drops the rest of the request, up to and including its 0x00.
  void consume_request();

 protected:
  void fill_buffer() override;
  void really_flush_buffer(char const* data, int length) override;

 private:
  qmgl_rpc_server& _server;
};

#endif  // WYGL_QMGL_RPC_H
