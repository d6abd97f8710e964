// Writing runs of characters straight into the memory of the library's own sinks.
//
// A writer that produces whole runs of characters (the value text writer) hands them to a
// qmgl_output_direct instead of calling put_char once per character. When the stream is, of
// exactly its class and without an echo target, a qmgl_output_str, a qmgl_output_black_hole,
// a qmgl_output_file or one of the RPC streams (whose really_put_char only collects in the
// block buffer), the characters go straight into the memory where put_char would put them;
// every other stream, a class derived from one of those included, gets them through its
// put_char, one call per character, in order. Either way the stream ends up with exactly the
// characters, and the failures, that the put_char calls would give it, except that where
// memory runs out a run may fail as a whole where single characters would have got in up to
// the failing one.
//
//   {
//     qmgl_output_direct to(out);
//     char* at = to.room(13);          // a place for up to 13 characters
//     at[0] = '4'; at[1] = '2';
//     to.wrote(2);                     // "42" is written
//     to.write(" , ", 2);
//   }                                  // out holds "42 ,"
//
// The length of the string or of the pending block is brought up to date when the object is
// destroyed, before the memory behind it grows, and by release(); until then the characters
// written are in the memory, behind the length the stream reports. Nothing but the object
// touches the stream meanwhile: a caller that lets other code write to the stream (or look at
// it) calls release() first.

#ifndef WYGL_SRC_QMGL_QMGL_OUTPUT_DIRECT_H
#define WYGL_SRC_QMGL_QMGL_OUTPUT_DIRECT_H

#include <cstddef>

#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_output.h>

#include "qmgl/qmgl_byte_scan.h"

class qmgl_output_direct {
 public:
  // The most a room may hold on a stream that takes its characters one at a time.
  static constexpr std::size_t small_room = 64;

  explicit qmgl_output_direct(qmgl_output& out) noexcept;
  ~qmgl_output_direct() { release(); }
  qmgl_output_direct(qmgl_output_direct const&) = delete;
  qmgl_output_direct& operator=(qmgl_output_direct const&) = delete;

  // The stream written to.
  qmgl_output& stream() const noexcept { return _out; }
  // Whether room takes any size (the characters go straight into the stream's memory); when
  // not, room takes at most small_room.
  bool takes_any_room() const noexcept { return _kind == kind::string || _kind == kind::buffer; }

  // A place for the next n characters, none of them NUL, valid until the next call on this
  // object other than wrote. Raises exc_not_enough_memory_t; nothing is written then.
  char* room(std::size_t n) {
    if (static_cast<std::size_t>(_end - _at) >= n && _at != nullptr) return _at;
    return make_room(n);
  }
  // The first n characters of the last room are written to the stream. On a stream that takes
  // one character at a time, raises what its put_char raises, after the characters before the
  // failing one are written.
  void wrote(std::size_t n) {
    if (_at != nullptr)
      _at += n;
    else
      deliver(n);
  }
  // Writes the n characters at data, none of them NUL.
  void write(char const* data, std::size_t n) {
    if (!takes_any_room()) return write_each(data, n);
    qmgl_copy_bytes(room(n), data, n);
    _at += n;
  }
  // Writes c, NUL included.
  void write(char c) {
    if (c != '\0' && takes_any_room()) {
      *room(1) = c;
      ++_at;
      return;
    }
    write_one(c);
  }
  // Brings the stream's length up to date with what has been written.
  void release() noexcept;

 private:
  enum class kind {
    per_character,  // put_char, one call per character
    discard,        // a black hole without echo: nothing to do
    string,         // a qmgl_output_str without echo: its string grows in place
    buffer,         // a buffered sink without echo: its block buffer grows
  };

  char* make_room(std::size_t n);
  void deliver(std::size_t n);
  void write_each(char const* data, std::size_t n);
  void write_one(char c);

  qmgl_output& _out;
  kind _kind = kind::per_character;
  qmgl_ntarray_of<char, 0>* _string = nullptr;
  qmgl_output_buffer_mixin* _buffer = nullptr;
  // For a string or buffer: the stream's memory from the end of its length (_synced) on,
  // written up to _at, with room up to _end; all null until the first room.
  char* _synced = nullptr;
  char* _at = nullptr;
  char* _end = nullptr;
  char _staging[small_room];
};

#endif  // WYGL_SRC_QMGL_QMGL_OUTPUT_DIRECT_H
