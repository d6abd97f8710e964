// qmgl_input.h - character input streams.
//
// All textual input of the library is read one character at a time through qmgl_input. A
// concrete source derives from qmgl_input_imp and supplies really_get_char; a source whose
// data arrives in blocks also derives from qmgl_input_buffer_mixin and supplies fill_buffer.
//
// qmgl_input_imp gives every source one character of look-back (return_char), echoing of
// what is read, and a choice of what happens at the end of the input: by default a read
// past the end throws exc_end_of_input_t; after throw_on_eoi(false) it returns NUL. Either
// way the input's end flag is set (empty() becomes true) and stays set.
//
// Example:
//
//   qmgl_input_str in("ab");
//   in.throw_on_eoi(false);
//   in.get_char();   // 'a'
//   in.get_char();   // 'b'
//   in.get_char();   // '\0', and in.empty() is now true
//
// Thread safety: inputs carry no locks; an input, its echo target and the data behind it
// are used by one thread at a time.

#ifndef WYGL_QMGL_INPUT_H
#define WYGL_QMGL_INPUT_H

#include <cstddef>
#include <string>

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_output.h>
#include <wygl/wygl_export.h>

class qmgl_input_direct;

// The character source.
struct WYGL_API qmgl_input {
  // Reads the next character.
  virtual char get_char() = 0;
  // Pushes the character last read back, so that the next get_char returns it again.
  virtual void return_char() = 0;
  // Chooses whether reading past the end throws; returns the previous setting.
  virtual bool throw_on_eoi(bool on) = 0;
  // Whether a read has reached the end of the input.
  virtual bool empty() const = 0;
  // Whether the source is interactive.
  virtual bool is_interactive() = 0;
  // From now on, copies every character read to out. out is not owned.
  virtual void echo_to(qmgl_output& out) = 0;
  // Stops echoing.
  virtual void halt_echo() = 0;
  // May let a failure out, so that a stream over a connection (qmgl_rpc.h) can report a
  // reply it could not finish reading.
  virtual ~qmgl_input() noexcept(false);
};

// The common base of concrete sources.
struct WYGL_API qmgl_input_imp : public qmgl_input {
  qmgl_input_imp() = default;

  // Returns the pushed-back character again if there is one (without reading the source or
  // echoing it a second time). Otherwise reads one with really_get_char (whose exceptions
  // pass out unchanged), sets the end flag if it is NUL, writes it to the echo target if
  // any (a NUL as "\r\n"), and returns it.
  char get_char() override;
  // Raises exc_assertion_failed_t ("assertion failed: _have_returned_char == false") when
  // a character is already pushed back; the stream is then unchanged. Does not clear the
  // end flag.
  void return_char() override;
  bool throw_on_eoi(bool on) override;
  // True once a read has met the end, not when the last real character has been read.
  bool empty() const override;
  // False.
  bool is_interactive() override;
  void echo_to(qmgl_output& out) override;
  void halt_echo() override;

 protected:
  // What really_get_char does at the end of its source: sets the end flag, then raises
  // exc_end_of_input_t ("exc_end_of_input") when throw-on-end is set, else returns
  // end_char (NUL for every source but the file source, whose end character is 0xFF).
  char end_of_source(char end_char = '\0');
  // Sets the end flag without reading or raising.
  void mark_at_end() { _at_end = true; }
  // For sources that also read in blocks: whether characters may be taken from the source
  // without passing through get_char, that is, whether nothing is pushed back and nothing
  // would be echoed.
  bool reads_directly() const { return !_have_returned_char && _echo_target == nullptr; }
  // Records c as read by a block read, as get_char records a character: it is the one
  // return_char pushes back, and a NUL sets the end flag.
  void note_read(char c) {
    _last_char = c;
    if (c == '\0') _at_end = true;
  }

 private:
  // The library's readers of long texts take runs of characters straight from the sources
  // that hold them.
  friend class qmgl_input_direct;

  // Returns the next character of the source; at its end, returns end_of_source().
  virtual char really_get_char() = 0;

  bool _throw_on_end = true;
  bool _at_end = false;
  bool _have_returned_char = false;
  qmgl_output* _echo_target = nullptr;
  char _last_char = '\0';
};

// The block buffer of sources whose data arrives in blocks: bytes received and not yet
// read. Reading takes bytes from the front without moving the rest, so that reading n
// bytes costs time linear in n, until the buffer has been shown through get_input_buffer.
struct WYGL_API qmgl_input_buffer_mixin : private qmgl_ban_copy_and_assignment {
  // Not virtual: a source is destroyed through its own class or its qmgl_input base, never
  // through this one.
  ~qmgl_input_buffer_mixin();

 protected:
  qmgl_input_buffer_mixin();

  // Fetches more data and appends it with add_data, or appends nothing when no more data
  // will come.
  virtual void fill_buffer() = 0;

  // Appends data to the buffer.
  void add_data(std::string const& data);
  void add_data(char const* data, std::size_t length);
  // Empties the buffer.
  void clear_data();
  // The bytes received and not yet read. The reference stays valid for the life of the
  // source and always shows what remains: once it has been given out, every later take
  // removes its bytes from the string itself, which costs time linear in the bytes that
  // remain.
  std::string const& get_input_buffer() const;
  // The next byte, 0 to 255, removed from the buffer. With an empty buffer, calls
  // fill_buffer once first; -1 when the buffer is still empty after it. A buffered byte is
  // taken inline: this runs once per character read.
  int get_buffered_char() {
    if (_read_offset < _buffer.size() && !_buffer_shown)
      return static_cast<unsigned char>(_buffer[_read_offset++]);
    return refill_and_get();
  }
  // Moves buffered bytes into into: at most capacity of them, and none after the first NUL,
  // which is moved too. With an empty buffer, calls fill_buffer once first. Returns the
  // number moved; 0 for a capacity of 0, or when the buffer is still empty after the fill.
  std::size_t get_buffered_chars(char* into, std::size_t capacity);
  // The bytes received and not yet read, where they lie, for a reader that scans them instead
  // of taking them a byte at a time; valid until the buffer is next changed.
  char const* unread_bytes() const noexcept { return _buffer.data() + _read_offset; }
  std::size_t unread_count() const noexcept { return _buffer.size() - _read_offset; }
  // Takes the first n of them (at most unread_count()), as n get_buffered_char calls would.
  void skip_unread(std::size_t n) noexcept { _read_offset += n; }

 private:
  // Drops the bytes already read from the front of _buffer.
  void compact() const;
  // get_buffered_char with nothing buffered, or with the buffer shown.
  int refill_and_get();

  mutable std::string _buffer;
  mutable std::size_t _read_offset = 0;
  // Set once get_input_buffer has given out a reference to _buffer.
  mutable bool _buffer_shown = false;
};

// A source over a caller-owned NUL-terminated string, which must outlive the stream.
struct WYGL_API qmgl_input_str : public qmgl_input_imp {
  // A null text reads as the empty string.
  explicit qmgl_input_str(char const* text);

 private:
  friend class qmgl_input_direct;

  char really_get_char() override;

  char const* _position;
};

// A source over a caller-owned, null-terminated array of NUL-terminated strings (an argv),
// read as one text with one space between arguments. Neither the array nor the strings are
// copied.
struct WYGL_API qmgl_input_arguments : public qmgl_input_imp {
  // Raises exc_assertion_failed_t ("assertion failed: _argv") for a null argv.
  explicit qmgl_input_arguments(char const* const* argv);

 private:
  char really_get_char() override;

  char const* const* _argv;
  int _position = 0;
};

// A filter that counts lines and columns of what it reads from an inner input. Line and
// column describe the position of the next character to be read, both from 1; a carriage
// return leaves the column as it is. The inner input is set to deliver its end character
// instead of throwing, and the counter passes that character on without throwing itself.
// The counter's end flag is set only by a read of its own that meets the inner input's end:
// a NUL, and also the end character of an inner source whose end character is not NUL (a
// file's 0xFF), so that readers of the counter stop there too. A character the inner input
// delivers after its end is counted and returned without setting the flag.
struct WYGL_API qmgl_input_counter : public qmgl_input_imp {
  explicit qmgl_input_counter(qmgl_input& inner);

  int line() const { return _line; }
  int column() const { return _column; }

 private:
  char really_get_char() override;

  qmgl_input& _inner;
  int _line = 1;
  int _column = 1;
};

// Copies in to out: writes every character read until a NUL (not written) or, for a source
// whose end character is not NUL (a file's 0xFF), until a read meets the end (not written
// either). A character read while the input's end flag is already set, data that arrived
// after the end, is written like any other. With the input's throw-on-end set, the copy ends
// with exc_end_of_input_t after every character has been written. Returns out.
WYGL_API qmgl_output& operator<<(qmgl_output& out, qmgl_input& in);

#endif  // WYGL_QMGL_INPUT_H
