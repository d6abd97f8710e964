// qmgl_exc.h - the exception tree, and raising it from error codes.
//
// Every failure that wygl reports leaves it as an object of one class tree rooted at exc_t,
// thrown by value. An exception carries a 32-bit code, the raiser's source file and line,
// and a message of at most 159 characters. The classes below exc_t add nothing but their
// type and, for most of them, a fixed code; they exist for catch clauses:
//
//   exc_t
//     exc_runtime_t          resources, timing, hardware, owner died
//     exc_logic_t            failed checks, ranges, parameters, states, casts
//     exc_input_t            bad tokens and grammar
//     exc_maybe_t            foreseeable outcomes: exists, does not exist, end of input
//     exc_unexpected_t
//     exc_unmapped_t         system and socket errors, with the system's number and text
//
// (the whole tree is in qmgl_exc_tree.def).
//
// Example:
//
//   try {
//     throw exc_timeout_t("src/app/poll", __LINE__, "exc_timeout");
//   } catch (exc_timing_t const& e) {
//     // e.code == 0x20000002, e.file == "src/app/poll", e.message == "exc_timeout"
//   }
//
// Code that holds a numeric error raises it with one call; a code of 0 raises nothing:
//
//   if (!ok) exc_t::throw_last_w32_error("src/app/store", __LINE__, "opening the journal");
//   exc_t::throw_qmgl_error("src/app/poll", __LINE__, 0x20030022, "no such job");
//       // raises exc_does_not_exist_t, code 0x20030022, message "no such job"
//
// While quiet mode is off (exc_t::be_quiet(false); it is on when the library is loaded),
// constructing an exception also prints its message on the standard error stream. A caught
// exception can be written, with all four fields, on any output stream:
//
//   qmgl_output_file::std_error() << e;   // exc 'src/app/poll'  12   537067554  'no such job'
//
// Constructing an exception writes trace records (level 0x800: kind 0x061E0000 at tracepoint
// 0x14010000 naming the object; level 0x40: kind 0x06070000 at 0x14010100), each with the
// text "<msg>\nfile: <file>; line: <line>; error: <code in hex> = <code as signed decimal>".
// Copies write no construction record; every destruction writes its destruction record.
//
// Thread safety: an exception object belongs to the thread that holds it; constructing one
// touches no shared state besides reading the trace mask and the quiet flag.

#ifndef WYGL_QMGL_EXC_H
#define WYGL_QMGL_EXC_H

#include <string>

#include <wygl/wygl_export.h>
#include <wygl/wytr.h>

struct qmgl_output;

struct WYGL_API exc_t : public wytr_class<wytr::kind_word(wytr::kind::constructed),
                                          wytr::level::lifetime, wytr::tp::exc_lifetime, exc_t> {
  // The error code: a library code (0x2000xxxx, 0x2003xxxx), a system or socket error
  // number, or a caller's own. Always within 32 bits, also where unsigned long is wider.
  unsigned long code;
  // The raiser's source file. Only the pointer is kept: the text must outlive the exception.
  char const* file;
  int line;
  // The message, cut to at most 159 characters and NUL-terminated.
  char message[160];

  // Copies the four fields; writes no trace record and prints nothing.
  exc_t(exc_t const& other) noexcept;
  exc_t& operator=(exc_t const& other) noexcept;

  virtual ~exc_t();

  // The library keeps no record of an exception in flight: always null.
  static exc_t* get_current() noexcept;

  // Sets quiet mode and returns the setting it had before. Quiet mode is on when the library
  // is loaded; while it is off, every exception constructed (not copied) prints its message on
  // the standard error stream (see the protected constructor). Not synchronised: a change made
  // while another thread constructs an exception may or may not apply to that construction.
  static bool be_quiet(bool quiet) noexcept;

  // Raising from error codes. Each function below takes the raiser's source file and line
  // first, as the constructors do, and gives them to the exception it raises. A code of 0
  // means no error: the function returns at once and raises nothing. For any other code it
  // does not return. Codes are 32-bit numbers: where unsigned long is wider, only its low 32
  // bits count (so a code whose low 32 bits are 0 is no error).
  //
  // System and socket errors are not sorted into classes: they raise exc_unmapped_t with the
  // number as its code and the system's text for it as its message, line end included. When
  // the system has no text for the code, "system error <code in decimal>" takes the text's
  // place, also in the forms with a text ("system error 4294967295 ( opening x ) ").
  // The stored message keeps at most 159 characters; the trace records carry it whole.
  //
  // A failed allocation while the message is built raises exc_not_enough_memory_t instead.
  // Thread safety: the functions keep no state; the "last" forms read the calling thread's
  // last-error value, so call them directly after the failing system call.

  // Raises exc_unmapped_t(source_file, source_line, <system text of code>, code).
  static void throw_w32_error(char const* source_file, int source_line, unsigned long error_code);
  // As above, with the message <system text> " ( " text " ) ". The system text's line end, if
  // any, stays in place before " ( ". A null text puts nothing between the brackets: " (  ) ".
  static void throw_w32_error(char const* source_file, int source_line, unsigned long error_code,
                              char const* text);
  // throw_w32_error with the calling thread's last system error.
  static void throw_last_w32_error(char const* source_file, int source_line);
  static void throw_last_w32_error(char const* source_file, int source_line, char const* text);
  // Socket error numbers have their texts in the same system table: as throw_w32_error.
  static void throw_tcpip_error(char const* source_file, int source_line, unsigned long error_code);
  // throw_tcpip_error with the calling thread's last socket error.
  static void throw_last_tcpip_error(char const* source_file, int source_line);
  // Raises the class of the tree whose fixed code is error_code, made with its three-argument
  // constructor and msg (exc_not_enough_disk_t for 0x2003001B, exc_timeout_t for 0x20000002,
  // ...). Codes that no class carries, among them 0x20030019 and 0x2003001A, raise
  // exc_unmapped_t(source_file, source_line, msg, error_code).
  static void throw_qmgl_error(char const* source_file, int source_line, unsigned long error_code,
                               char const* msg);
  // Raises exc_unmapped_t with the message "unmapped QMPL error" and error_code.
  static void throw_qmpl_error(char const* source_file, int source_line, unsigned long error_code);
  // Raises exc_unmapped_t with the message "unmapped ZR_GS error" and error_code.
  static void throw_qmgs_error(char const* source_file, int source_line, unsigned long error_code);

 protected:
  // Writes the construction records (see the overview) and stores the fields. A null msg is
  // taken as an empty message and a null file is shown as an empty name in the trace text
  // (the stored file pointer stays null). A code wider than 32 bits keeps its low 32 bits.
  //
  // Then, unless quiet mode is on, prints msg whole (not cut to 159 characters), followed by
  // "\r\n" twice, on qmgl_output_file::std_error(), and flushes that stream; a null msg
  // prints the two line ends alone. Raises nothing of its own, but a failure of the standard
  // error stream passes out of the constructor. An exception that the stream raises while
  // this thread prints is not printed in turn. Prints from several threads may interleave.
  exc_t(char const* source_file, int source_line, char const* msg, unsigned long error_code);

 private:
  static bool _quiet;
};

// The classes below exc_t. Their constructors only pass their arguments up:
//   name(file, line, msg)        - the class's fixed code
//   name(file, line, msg, code)  - the caller's code
#define WYGL_EXC_CALLER(name, base)                                                           \
  struct WYGL_API name : public base {                                                        \
    name(char const* source_file, int source_line, char const* msg, unsigned long error_code) \
        : base(source_file, source_line, msg, error_code) {}                                  \
    ~name() override;                                                                         \
  };
#define WYGL_EXC_FIXED(name, base, fixed_code)                      \
  struct WYGL_API name : public base {                              \
    name(char const* source_file, int source_line, char const* msg) \
        : base(source_file, source_line, msg, fixed_code) {}        \
    ~name() override;                                               \
  };
#define WYGL_EXC_BOTH(name, base, fixed_code)                                                 \
  struct WYGL_API name : public base {                                                        \
    name(char const* source_file, int source_line, char const* msg)                           \
        : base(source_file, source_line, msg, fixed_code) {}                                  \
    name(char const* source_file, int source_line, char const* msg, unsigned long error_code) \
        : base(source_file, source_line, msg, error_code) {}                                  \
    ~name() override;                                                                         \
  };
#include <wygl/qmgl_exc_tree.def>

// Writes e on out: "exc ", the file name quoted with apostrophes (qmgl_str_quoted: every
// apostrophe doubled, one space after), " ", the line (int form: digits, two spaces), " ", the
// code in decimal (unsigned long form: digits, one space), " ", the stored message quoted as
// the file name. An exception of file src/x, line 12, code 7 and message m is written as
// "exc 'src/x'  12   7  'm' ". A null file name is written as ''. Returns out; failures of
// out pass through, leaving a partly written text.
WYGL_API qmgl_output& operator<<(qmgl_output& out, exc_t const& e);

// The system's text for an error code (a system or socket error number), as 16-bit units:
// the text converted from the current multibyte code page, line end included, cut to at most
// 259 units. Empty when the system has no text for the code. Only the low 32 bits of the code
// count. Raises exc_not_enough_memory_t when the result cannot be allocated.
// Thread safety: keeps no state; safe to call from any thread.
WYGL_API std::basic_string<unsigned short> error_string(unsigned long error_code);

#endif  // WYGL_QMGL_EXC_H
