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
//   while (!connection.is_client_dead()) {            // ends with the int 0 when the
//     qmgl_rpc_server_request request(connection);    // client has gone
//     qmgl_value v;
//     request >> v;                                   // read the request (values, text)
//     request.consume_request();                      // drop what was not read
//     v.stream_out(request);                          // the reply, sent by the destructor
//   }
//
// Client side:
//
//   qmgl_rpc_client client("kv", "127.0.0.1");
//   {
//     qmgl_rpc_client_request call(client);           // takes the client's lock
//     qmgl_value("get").stream_out(call);
//     qmgl_value("greeting").stream_out(call);
//     call.end_of_request();                          // sends the request
//     qmgl_value reply;
//     call >> reply;
//   }                                                 // reads the rest, releases the lock
//
// Long bodies move in blocks: put_block and get_block copy a span of bytes at once where the
// output and input operators pass one character per call.
//
// Failures of a transfer reach the caller unchanged, after the side's peer has been marked
// dead: the int 0 when the peer closed the connection, the socket error code as an unsigned
// long when a read fails or its select wait times out, and the exceptions of qmgl_socket.h
// for a failed send or connection.
//
// The request destructors do work on the connection (the client's reads the rest of the
// reply, the server's sends the reply), so they may let such a failure out: they are
// noexcept(false), and a request is best kept in a scope of its own inside the try block that
// handles its failures. While another exception unwinds the stack, nothing leaves them: a
// failure then marks the peer dead and is reported as an error text instead. The client's
// lock is released on every way out of its request, so a failed call never leaves the
// client's other calls waiting.
//
// Incoming messages are unlimited in size unless a connection sets a limit: a server that
// faces clients it does not trust limits their requests, a client its replies, so that one
// peer cannot make a connection hold unbounded memory:
//
//   connection.set_incoming_message_limit(1 << 20);   // requests of at most 1 MiB
//
// Past the limit, reading the message raises exc_range_overflow_t and the connection ends
// (see set_incoming_message_limit).
//
// Thread safety: one qmgl_rpc_client may be shared by threads; its requests take turns, one
// whole exchange at a time. A request object belongs to one thread. A server connection and
// its requests are used by one thread at a time.

#ifndef WYGL_QMGL_RPC_H
#define WYGL_QMGL_RPC_H

#include <cstddef>

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_socket.h>
#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// The incoming message limit of a connection that has none (the default).
inline constexpr std::size_t qmgl_rpc_no_message_limit = static_cast<std::size_t>(-1);

// A stream over one connected socket that is both an input and an output: what is written
// collects in memory and leaves as one message on flush; what arrives is read in chunks of
// at most 16384 bytes. The socket is not owned and must outlive the stream.
//
// Reading: get_char returns the next byte of the message; the 0x00 that ends it reads as 0
// and sets empty(). A reader tests empty() before each get_char: a get_char after the end
// waits for the next message. A chunk is what a receive of at most 16384 bytes would give;
// the stream receives more at once where it can: into the room of a get_block, or, once a
// receive has filled a whole chunk, into 64 KB that the socket keeps from then on (see
// qmgl_socket::read). It reads what it received ahead chunk by chunk, so the chunks, the
// records and what the stream takes of a message are those of 16384-byte receives; bytes
// after the chunk that ends a message stay on the socket for the next reader. The first
// chunks of a connection are received into a buffer on the reading thread's stack.
//
// Tracing: fill_buffer writes the wait notes "Waiting for Socket Read" and "After Socket
// Read:%d" (level 0x4000000) and its error texts (level 0x8) at 0x140C0300; reget is an
// operation scope at 0x140C0700 (level 0x1000).
struct WYGL_API qmgl_rpc_input_output : public qmgl_input_imp,
                                        public qmgl_input_buffer_mixin,
                                        public qmgl_output_imp,
                                        public qmgl_output_buffer_mixin {
  explicit qmgl_rpc_input_output(qmgl_socket& socket);
  // Sends nothing and closes nothing; raises nothing itself (the derived requests may).
  ~qmgl_rpc_input_output() noexcept(false) override;

  // Drops every buffered input byte and reads a fresh chunk from the socket, with this
  // class's own reading (a derived class's fill_buffer does not run, so no peer is marked
  // dead). Raises as fill_buffer.
  void reget();
  // Sends the last flushed message again, through the (derived) really_flush_buffer; before
  // the first flush with data it sends nothing. The pending output is not touched. Raises as
  // really_flush_buffer.
  void resend();

  // The block forms of put_char and get_char, for long bodies: they move bytes with one copy
  // per block instead of one call per character, and otherwise act as the character loops
  // they stand for. While an echo target is set (or, for reading, a character is pushed
  // back) they fall back to those loops, so echoing works as before.
  //
  // put_block appends length bytes to the pending message, as length put_char calls would.
  // Raises exc_not_enough_memory_t, leaving the pending message as it was.
  void put_block(char const* data, std::size_t length);
  // get_block reads on in the current message, as get_char calls would: it stores up to
  // capacity bytes in into and stops early at the 0x00 that ends the message, which it
  // consumes (empty() becomes true) but does not store. Returns the number of bytes stored.
  // When empty() is already true, reads nothing and returns 0, so that
  //   while (std::size_t n = stream.get_block(buffer, sizeof buffer)) ...
  // ends with the message. Waits in fill_buffer (a derived request's, which marks its peer
  // dead on failure) while bytes are due, and raises as get_char does; the bytes stored
  // before a failure have been consumed, and into past them may have changed. With nothing
  // buffered and room for a whole chunk, the chunk is received straight into into.
  std::size_t get_block(char* into, std::size_t capacity);

 protected:
  // Reads one chunk from the socket and appends it to the input buffer. Throws the int 0
  // when the peer has closed the connection, and passes on the unsigned long of a failed or
  // timed-out read; the input buffer keeps what it had.
  void fill_buffer() override;
  // Sends the buffered output as one message; nothing when the buffer is empty. On failure
  // the message stays pending.
  void flush() override;
  // Writes exactly length bytes to the socket, looping over partial sends. Raises what
  // qmgl_socket::write raises; bytes already sent stay sent.
  void really_flush_buffer(char const* data, int length) override;

  // True while the object is being destroyed because another exception unwinds the stack
  // (more exceptions are in flight than when it was made).
  bool unwinding() const;

  // The most bytes the message read through this stream may have before its 0x00;
  // qmgl_rpc_no_message_limit for none. fill_buffer counts the bytes received for the message
  // (its 0x00 included, so limit + 1 at most) and raises past that: see
  // set_incoming_message_limit below. reget starts the count again.
  void limit_incoming_message(std::size_t bytes);
  // Whether fill_buffer refused the message for its length; the input is then at its end.
  bool over_limit() const { return _over_limit; }

  qmgl_socket& _socket;

 private:
  // The value reader takes runs of bytes straight from the input buffer.
  friend class qmgl_input_direct;

  char really_get_char() override;
  void really_put_char(char c) override;
  [[noreturn]] void refuse_message();
  // Runs fill_buffer (a derived request's) with the chunk received into landing, which has
  // room bytes (a whole chunk at least, or the bytes landed ahead there), instead of the
  // input buffer; returns the number of bytes received there (0 when the fill added its bytes
  // to the input buffer itself, or none).
  std::size_t fill_into(char* landing, std::size_t room);
  // The bytes of the next chunk; ahead when they are the socket's bytes ahead, which the
  // caller drops once it has taken them.
  struct chunk {
    char const* data;
    std::size_t count;
    bool ahead = false;
  };
  chunk next_chunk(char* stack_chunk);
  // Gives the bytes landed ahead back to the socket, for the reads after get_block.
  void put_back_landed_ahead();

  int _exceptions_at_construction;
  // Where fill_buffer receives its chunk when not null (see fill_into), the room there, and
  // how many bytes it received there.
  char* _landing = nullptr;
  std::size_t _landing_room = 0;
  std::size_t _landed = 0;
  // Bytes a landing received beyond its chunk, in get_block's memory: they are where the
  // next landing begins, and go back to the socket when get_block returns.
  char const* _landed_ahead = nullptr;
  std::size_t _landed_ahead_count = 0;
  std::size_t _message_limit = qmgl_rpc_no_message_limit;
  std::size_t _room_left = qmgl_rpc_no_message_limit;  // bytes the message may still bring
  bool _over_limit = false;
};

// A listening endpoint for RPC connections.
struct WYGL_API qmgl_rpc_server_factory : public qmgl_socket_factory {
  // Passed on to the socket factory as 0 when it is 0 and as tcp for any other value; it
  // only shows in the factory's trace.
  enum type : int { unspecified = 0, tcp = 1 };

  // As qmgl_socket_factory's constructors (qmgl_socket.h), and raising as they do.
  qmgl_rpc_server_factory(char const* service, type socket_type);
  qmgl_rpc_server_factory(char const* service, char const* host);
  // The host converted from UTF-16. A null wide host is the empty name, which is looked up
  // (it does not mean all addresses).
  qmgl_rpc_server_factory(char const* service, unsigned short const* host);
  ~qmgl_rpc_server_factory();
};

// One accepted RPC connection. It keeps the output buffers of its last request for the next
// one (qmgl_output_buffer_spare), so that long replies do not allocate afresh each time.
struct WYGL_API qmgl_rpc_server {
  // Blocks until a client connects to factory. Raises as qmgl_socket's accepting
  // constructor.
  explicit qmgl_rpc_server(qmgl_rpc_server_factory& factory);
  // Closes the connection.
  virtual ~qmgl_rpc_server();

  // True after any failed read or send of one of its requests; never false again.
  bool is_client_dead() { return _is_client_dead; }

  // Limits every request read after this call to bytes before its 0x00
  // (qmgl_rpc_no_message_limit, the default, for none). A request that brings more raises,
  // from the read of the request stream that receives the byte past the limit (its own 0x00
  // counts as the byte after the body), exc_range_overflow_t with the code 0x20030008 and the
  // message "RPC message longer than the limit of N bytes"; none of the bytes of that read is
  // kept, nothing more of the connection is read, and the request reads as ended (empty() is
  // true, consume_request reads nothing). The client is marked dead at once; the request's
  // destructor still sends the reply the handler wrote (so that the client can learn why),
  // then closes the connection. Bytes of the refused request still on their way are never
  // read, so the client may see the connection reset while it sends.
  void set_incoming_message_limit(std::size_t bytes) { _message_limit = bytes; }
  std::size_t incoming_message_limit() const { return _message_limit; }

 private:
  friend struct qmgl_rpc_server_request;
  bool _is_client_dead;
  std::size_t _message_limit = qmgl_rpc_no_message_limit;
  qmgl_socket _socket;
  qmgl_output_buffer_spare _spare_output;
};

// One RPC client connection, shareable between threads.
struct WYGL_API qmgl_rpc_client : qmgl_ban_copy_and_assignment {
  // Connects to service on this machine. Raises as qmgl_socket's connecting constructor.
  explicit qmgl_rpc_client(char const* service);
  // Connects to service on host (this machine when null or empty), then writes the entry
  // record "Service:%s Host:%s" at 0x14180100 (an empty text for a null argument).
  qmgl_rpc_client(char const* service, char const* host);
  // The same with a host in UTF-16 (a null host is this machine); the record is
  // "Service:%s Host:%S".
  qmgl_rpc_client(char const* service, unsigned short const* host);
  // Closes the connection. No request may be alive on the client.
  virtual ~qmgl_rpc_client();

  // True after any failed send or read of one of its requests, or after quit_without_wait;
  // never false again.
  bool is_server_dead() { return _is_server_dead; }

  // Limits every reply read after this call to bytes before its 0x00
  // (qmgl_rpc_no_message_limit, the default, for none). A longer reply raises, from the read
  // that receives the byte past the limit, exc_range_overflow_t with the code 0x20030008 and
  // the message "RPC message longer than the limit of N bytes"; none of the bytes of that read
  // is kept, the server is marked dead and the connection is closed at once.
  void set_incoming_message_limit(std::size_t bytes) { _message_limit = bytes; }
  std::size_t incoming_message_limit() const { return _message_limit; }

 private:
  friend struct qmgl_rpc_client_request;
  bool _is_server_dead;
  std::size_t _message_limit = qmgl_rpc_no_message_limit;
  qmgl_sync_lock_private _lock;
  qmgl_socket _socket;
  // The output buffers of the last request, for the next one; used under _lock.
  qmgl_output_buffer_spare _spare_output;
};

// One call on a client: write the request, end_of_request, read the reply. Holds the
// client's lock from construction to destruction, so the calls of several threads on one
// client take turns, one whole exchange at a time.
//
// Failures of a transfer mark the server dead (is_server_dead) and then reach the caller
// unchanged: the int 0 when the server closed the connection, the unsigned long socket code
// of a failed or timed-out read, the exceptions of a failed send.
struct WYGL_API qmgl_rpc_client_request : public qmgl_rpc_input_output {
  // Writes the state note "Creating Client Request" (level 0x40000), then waits without
  // limit for the client's lock. Raises what the lock's request raises (the lock is then
  // not held).
  explicit qmgl_rpc_client_request(qmgl_rpc_client& client);
  // Unless the server is dead, reads and drops the rest of the reply up to its 0x00, so
  // that the next request starts on a clean connection; then releases the lock and writes
  // the state note "Destroying Client Request". The lock is released on every way out.
  //
  // A failure while reading the rest leaves the destructor (after the lock is released),
  // except while another exception unwinds the stack: then nothing leaves it, the server is
  // marked dead and the error text "ERROR: Failure dropped during unwinding: SERVER DIED"
  // (level 0x8) is written instead. While unwinding, a request that was never sent reads
  // nothing (no reply will come); outside unwinding a request must have been ended with
  // end_of_request before it is destroyed, or the destructor waits for a reply.
  ~qmgl_rpc_client_request() noexcept(false) override;

  // Ends the request with its 0x00 and sends it. On failure writes "ERROR: Exception
  // throw: SERVER DIED" (level 0x8), marks the server dead and passes the failure on.
  void end_of_request();
  // Marks the server dead, so that the destructor reads nothing. The client stays marked.
  void quit_without_wait();

 protected:
  // The stream's own steps; on failure "ERROR: Catch in Catch Exception: SERVER DIED"
  // (level 0x8), the server is marked dead and the failure passes on.
  void fill_buffer() override;
  // The stream's own steps; on failure the state note "set _client->_is_server_dead", the
  // server is marked dead and the failure passes on.
  void really_flush_buffer(char const* data, int length) override;

 private:
  void drop_rest_of_reply();

  qmgl_rpc_client& _client;
  bool _sent = false;
};

// One request on a server connection: read it, consume_request, write the reply; the
// destructor sends the reply. Failures of a transfer mark the client dead (is_client_dead)
// and then reach the caller unchanged.
struct WYGL_API qmgl_rpc_server_request : public qmgl_rpc_input_output {
  // Writes nothing, takes no lock.
  explicit qmgl_rpc_server_request(qmgl_rpc_server& server);
  // Unless the client is dead: the state note "!_server->_is_client_dead", then the reply
  // ended with its 0x00 is sent. After a request refused for its length (see
  // qmgl_rpc_server::set_incoming_message_limit) the reply is sent as far as the connection
  // takes it, nothing leaves the destructor, and the connection is closed. When that fails: the
  // state note "set _server->_is_client_dead", the client is marked dead and the failure leaves the
  // destructor.
  //
  // While another exception unwinds the stack (the handler failed, for instance on a
  // request it could not parse), the destructor first drops what is left of the request,
  // so that the connection stays in step, then sends the reply written so far; nothing
  // leaves it then: a failure marks the client dead and writes the error text "ERROR:
  // Failure dropped during unwinding: CLIENT DIED" (level 0x8).
  ~qmgl_rpc_server_request() noexcept(false) override;

  // Reads and drops the rest of the request, up to and including its 0x00 (nothing when
  // the client is dead or the request has been read to its end).
  void consume_request();

 protected:
  // As the client request's, with the state note "set _server->_is_client_dead" on failure.
  void fill_buffer() override;
  void really_flush_buffer(char const* data, int length) override;

 private:
  void send_reply();
  void answer_and_close() noexcept;

  qmgl_rpc_server& _server;
};

#endif  // WYGL_QMGL_RPC_H
