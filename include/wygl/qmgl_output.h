// qmgl_output.h - character output streams and the formatting operators.
//
// Every textual output of the library goes through qmgl_output, a sink of 8-bit characters.
// A concrete sink derives from qmgl_output_imp and supplies really_put_char; a sink that
// delivers whole blocks (a file, a socket message) also derives from
// qmgl_output_buffer_mixin and supplies really_flush_buffer.
//
// The formatting operators write fixed forms that the value syntax relies on: numbers end
// with spaces (one after an unsigned long, two after an int, long or unsigned int), quoted
// strings double their quote character and end with one space.
//
// The character NUL is the end-of-line mark of the value syntax. When it passes through an
// echo it is shown as "\r\n".
//
// Example:
//
//   qmgl_ntarray_of<char, 0> text;
//   qmgl_output_str out(text);
//   out << "n=" << 42 << qmgl_hex(255);   // text is now "n=42  0x000000ff "
//
// Thread safety: streams carry no locks. A stream, its echo target and the string behind a
// qmgl_output_str are used by one thread at a time.

#ifndef WYGL_QMGL_OUTPUT_H
#define WYGL_QMGL_OUTPUT_H

#include <cstddef>

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_hex.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/wygl_export.h>

class qmgl_output_direct;

// The character sink.
struct WYGL_API qmgl_output {
  // Writes one character.
  virtual void put_char(char c) = 0;
  // Writes the character c, n times.
  virtual void put_chars(char c, unsigned int n) = 0;
  // Hands buffered data on to the final destination; what that means depends on the sink.
  virtual void flush() = 0;
  // From now on, copies every character written here to other as well. other is not owned
  // and must outlive this stream's use of it.
  virtual void echo_to(qmgl_output& other) = 0;
  // May let a failure out, so that a stream over a connection (qmgl_rpc.h) can report a
  // message it could not send.
  virtual ~qmgl_output() noexcept(false);
};

// The common base of concrete sinks: echoing, and the one hook a sink supplies.
struct WYGL_API qmgl_output_imp : public qmgl_output {
  qmgl_output_imp() = default;

  // Delivers c with really_put_char, then writes it to the echo target, if any, with the
  // target's put_char; a NUL reaches the echo target as the two characters "\r\n".
  void put_char(char c) override;
  // First passes the same call (c, n) to the echo target, if any (no NUL translation here),
  // then delivers c n times with really_put_char.
  void put_chars(char c, unsigned int n) override;
  // Does nothing.
  void flush() override;
  // Replaces any earlier echo target. There is no way to remove an echo again.
  void echo_to(qmgl_output& other) override;

 protected:
  // For sinks that also take blocks: whether characters may reach the sink without passing
  // through put_char, that is, whether nothing would be echoed.
  bool writes_directly() const { return _echo_target == nullptr; }

 private:
  // The library's writers of long texts put runs of characters straight into the sinks that
  // take them without echo.
  friend class qmgl_output_direct;

  // Delivers one character to the sink's destination, without echo.
  virtual void really_put_char(char c) = 0;

  qmgl_output* _echo_target = nullptr;
};

// A sink that appends to a caller-owned narrow string. Each character appended is visible
// in the string at once; a copy of the string taken before a write keeps its old content.
// The string must outlive the stream. Raises exc_not_enough_memory_t when memory runs out.
struct WYGL_API qmgl_output_str : public qmgl_output_imp {
  explicit qmgl_output_str(qmgl_ntarray_of<char, 0>& target) : _target(target) {}

 private:
  friend class qmgl_output_direct;

  void really_put_char(char c) override;

  qmgl_ntarray_of<char, 0>& _target;
};

// A sink that discards every character. Echoing still works.
struct WYGL_API qmgl_output_black_hole : public qmgl_output_imp {
  qmgl_output_black_hole() = default;

 private:
  void really_put_char(char c) override;
};

// Buffer memory handed from one buffered sink to the next sink of the same owner, so that a
// run of short-lived sinks (one per message on a connection) reuses warm memory instead of
// allocating, and touching for the first time, buffers of the message's size each time. A
// sink leaves a block only when it is no larger than growing to the sink's own longest
// message makes a block (less than twice that length plus 32 KB), so that the memory kept
// follows the length of recent messages, however long, and goes again after shorter ones. It
// frees what it holds when destroyed. It carries no lock: its sinks take turns, one alive at a
// time.
class WYGL_API qmgl_output_buffer_spare : private qmgl_ban_copy_and_assignment {
 public:
  qmgl_output_buffer_spare() = default;
  ~qmgl_output_buffer_spare();

 private:
  friend struct qmgl_output_buffer_mixin;
  char* _buffer = nullptr;
  std::size_t _allocated = 0;
  char* _last_buffer = nullptr;
  std::size_t _last_allocated = 0;
};

// The block buffer of sinks that deliver data in blocks. Characters collect in memory and
// leave only through flush_buffer, which hands the whole pending block to
// really_flush_buffer in one call and keeps it as the last block.
//
// The buffer's capacity is reported as 1024 bytes at first, growing by 16384 bytes each time
// it fills; the memory behind it may be larger, so that collecting n characters costs time
// linear in n.
struct WYGL_API qmgl_output_buffer_mixin : private qmgl_ban_copy_and_assignment {
  // The pending characters (not NUL-terminated) and their number.
  char const* get_output_buffer() const { return _buffer; }
  int get_output_buffer_length() const { return _length; }
  // The block handed over at the most recent flush that had data: null and 0 before the
  // first one.
  char const* get_last_output_buffer() const { return _last_length > 0 ? _last_buffer : nullptr; }
  int get_last_output_buffer_length() const { return _last_length; }
  // The reported capacity: 1024 + k * 16384 after the buffer has filled k times.
  int get_output_buffer_capacity() const { return _capacity; }

 protected:
  // Allocates the first buffer. Raises exc_not_enough_memory_t.
  qmgl_output_buffer_mixin();
  // Frees both buffers without flushing: a derived sink that must not lose data flushes in
  // its own destructor.
  virtual ~qmgl_output_buffer_mixin() noexcept(false);

  // Appends c to the pending characters, growing the buffer when it is full. Never
  // delivers anything by itself. Raises exc_not_enough_memory_t, leaving the buffer as it
  // was. A character that fits is stored inline: this runs once per character written.
  void put_buffered_char(char c) {
    if (_length < _capacity) {
      _buffer[_length++] = c;
      return;
    }
    grow_and_put(c);
  }
  // Appends length bytes, as that many put_buffered_char calls would, with one copy: the
  // reported capacity ends where theirs would. Raises exc_not_enough_memory_t (also when the
  // pending characters would pass INT_MAX), leaving the buffer as it was.
  void put_buffered_chars(char const* data, std::size_t length);

  // Takes over the larger memory blocks of spare, before anything is written; the reported
  // capacity and everything a caller sees stay as they were.
  void take_spare_memory(qmgl_output_buffer_spare& spare) noexcept;
  // Leaves the larger memory blocks in spare for the next sink, after the last write and
  // flush: the pending characters and the last block are gone, and the sink must not be
  // used again before it is destroyed.
  void leave_spare_memory(qmgl_output_buffer_spare& spare) noexcept;

  // Nothing when no character is pending. Otherwise makes the pending block the last block
  // (during the call both hold it), calls really_flush_buffer with the whole block and, only
  // when that returns, empties the buffer. An exception from really_flush_buffer passes out
  // unchanged and leaves the block pending, so that the next flush hands over the same block
  // again; the last block then holds it too. The block itself is not copied on success.
  // Raises exc_not_enough_memory_t before handing anything over.
  virtual void flush_buffer();

 private:
  friend class qmgl_output_direct;

  // Delivers exactly length bytes, or throws.
  virtual void really_flush_buffer(char const* data, int length) = 0;
  // put_buffered_char with a full buffer.
  void grow_and_put(char c);
  // A place for length more pending characters, behind the pending ones; the reported
  // capacity is unchanged. Raises exc_not_enough_memory_t (also when the pending characters
  // would pass INT_MAX), leaving the buffer as it was.
  char* room_for(std::size_t length);
  // Makes the first length characters of the place given by room_for pending, raising the
  // reported capacity as length put_buffered_char calls would.
  void added(std::size_t length) noexcept;
  // The most characters the memory may hold pending: those whose reported capacity it holds.
  std::size_t usable_memory() const noexcept;
  // Moves the pending characters to memory of at least size bytes when the buffer's is
  // smaller.
  void grow_memory(std::size_t size);

  int _capacity;
  char* _buffer;
  int _length = 0;
  char* _last_buffer = nullptr;
  int _last_length = 0;
  // The size of the memory behind _buffer (at least _capacity) and of _last_buffer.
  std::size_t _allocated;
  std::size_t _last_allocated = 0;
  // The longest block flushed so far.
  std::size_t _most_flushed = 0;
};

// A string and a quote character, for writing the string quoted.
struct WYGL_API qmgl_str_quoted {
  qmgl_str_quoted(qmgl_ntarray_of<char, 0> const& text, char quote) : _text(text), _quote(quote) {}

  qmgl_ntarray_of<char, 0> const& _text;
  char _quote;
};

// The formatting operators. Each writes with the stream's put_char (so echoing applies) and
// returns the stream. Failures of the stream pass through, leaving a partly written text.

// The character itself.
WYGL_API qmgl_output& operator<<(qmgl_output& out, char c);
// The characters up to the terminating NUL.
WYGL_API qmgl_output& operator<<(qmgl_output& out, char const* text);
WYGL_API qmgl_output& operator<<(qmgl_output& out, qmgl_ntarray_of<char, 0> const& text);
// Decimal digits without leading zeros ("0" for zero), then one space.
WYGL_API qmgl_output& operator<<(qmgl_output& out, unsigned long value);
// A minus sign for a negative value, the magnitude as for unsigned long (digits and its
// space), then one more space. The most negative value is written in full.
WYGL_API qmgl_output& operator<<(qmgl_output& out, long value);
WYGL_API qmgl_output& operator<<(qmgl_output& out, int value);
// As for unsigned long, then one more space.
WYGL_API qmgl_output& operator<<(qmgl_output& out, unsigned int value);
// "0x", exactly eight lower-case hexadecimal digits, then one space.
WYGL_API qmgl_output& operator<<(qmgl_output& out, qmgl_hex value);
// The quote character, the text with every quote character doubled, the quote character,
// then one space.
WYGL_API qmgl_output& operator<<(qmgl_output& out, qmgl_str_quoted const& quoted);

// The number of characters of the decimal form of value, without the trailing spaces: its
// digits, plus one for the minus sign of a negative value.
WYGL_API unsigned int qmgl_output_length(int value);

#endif  // WYGL_QMGL_OUTPUT_H
