// qmgl_exc.h - the exception tree.
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
// Constructing an exception writes trace records (level 0x800: kind 0x061E0000 at tracepoint
// 0x14010000 naming the object; level 0x40: kind 0x06070000 at 0x14010100), each with the
// text "<msg>\nfile: <file>; line: <line>; error: <code in hex> = <code as signed decimal>".
// Copies write no construction record; every destruction writes its destruction record.
//
// Thread safety: an exception object belongs to the thread that holds it; constructing one
// touches no shared state besides reading the trace mask and the quiet flag.

#ifndef WYGL_QMGL_EXC_H
#define WYGL_QMGL_EXC_H

#include <wygl/wygl_export.h>
#include <wygl/wytr.h>

struct WYGL_API exc_t : public wytr_class<102629376, 2048, 335609856, exc_t> {
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
  // is loaded. Not synchronised: a change made while another thread constructs an exception
  // may or may not apply to that construction.
  static bool be_quiet(bool quiet) noexcept;

 protected:
  // Writes the construction records (see the overview) and stores the fields. A null msg is
  // taken as an empty message and a null file is shown as an empty name in the trace text
  // (the stored file pointer stays null). A code wider than 32 bits keeps its low 32 bits.
  // Raises nothing of its own.
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

#endif  // WYGL_QMGL_EXC_H
