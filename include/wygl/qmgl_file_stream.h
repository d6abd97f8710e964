// qmgl_file_stream.h - character streams over files and the standard handles.
//
// qmgl_output_file collects what is written to it in the output buffer of qmgl_output.h and
// hands it to its file in one write per flush; nothing reaches the file before a flush or the
// stream's end. qmgl_input_file reads its file in blocks of 512 bytes; at the end of the file
// it delivers the character 0xFF, not NUL, so that a file of values read by the value reader
// ends in end-of-input rather than end-of-line.
//
// Each stream owns a qmgl_file (qmgl_file.h) of its own: one given as a qmgl_file is
// duplicated, so the caller's object stays independent (the two share the file's position).
//
// Example:
//
//   {
//     qmgl_output_file out("report.txt", qmgl_output_file::truncate);
//     out << "total " << 42 << "\r\n";
//   }  // flushed and closed here
//   qmgl_input_file in("report.txt", qmgl_file::deny_write);
//   in.get_char();  // 't'
//
// The standard streams std_output, std_error and std_input are process-wide objects made on
// first use. std_error never fails for want of a handle: without a usable standard error
// handle it writes to the null device.
//
// Thread safety: a stream is used by one thread at a time. The standard streams are made on
// the first call without a lock: make the first calls before starting threads.

#ifndef WYGL_QMGL_FILE_STREAM_H
#define WYGL_QMGL_FILE_STREAM_H

#include <wygl/qmgl_file.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_output.h>
#include <wygl/wygl_export.h>
#include <wygl/wytr.h>

// An output stream over a file. Construction and destruction write the plain lifetime records
// of tracepoint 0x141C0000 (level 0x800). Cannot be copied.
struct WYGL_API qmgl_output_file
    : public qmgl_output_imp,
      public qmgl_output_buffer_mixin,
      public wytr_class<wytr::kind_word(wytr::kind::constructed), wytr::level::lifetime,
                        wytr::tp::output_file_lifetime, qmgl_output_file> {
  // Where writing starts.
  enum mode_indicator : int {
    truncate = 0,       // the file is emptied first
    append = 1,         // writing starts at the end of the file
    keep_position = 2,  // writing starts at the file's position (only for a given qmgl_file)
  };

  // Duplicates file's handle, then applies mode: truncate empties the file, append moves the
  // position to the end, keep_position leaves it. Raises exc_invalid_parameter_t
  // ("exc_invalid_parameter") for another mode, exc_unmapped_t for failures of the file.
  qmgl_output_file(qmgl_file& file, mode_indicator mode);
  // Opens the file name for writing, denying other openers write access: truncate creates
  // or empties it, append opens or creates it and moves to its end. Any other mode raises
  // exc_invalid_parameter_t ("exc_invalid_parameter") before the file is touched; failures
  // of opening pass out as qmgl_file raises them (32 when another opener writes the file).
  qmgl_output_file(char const* name, mode_indicator mode);
  qmgl_output_file(qmgl_ntarray_of<char, 0> const& name, mode_indicator mode);

  // Writes what is pending, then closes the file. A failure of that last write cannot leave
  // the destructor: it is reported as an error text (level 0x8, kind 0x06040000, tracepoint
  // 0x141C0000, this object) "flush at destruction failed, <n> characters lost: <code>
  // <message>", with the exception's code in decimal and its message, and the characters are
  // lost.
  ~qmgl_output_file() override;

  // Hands everything written so far to the file in one write. When the system takes only part
  // of it, writes the error text "write failed for Size:<length> BytesWritten:<written>"
  // (level 0x8, kind 0x06040000, tracepoint 0x141C0600, no object) and raises
  // exc_not_enough_disk_t ("exc_not_enough_disk"). When the write fails, raises
  // exc_unmapped_t with the system's error. Either way every character stays pending, so that
  // the next flush hands over the whole block again.
  void flush() override;
  // flush, then asks the system to write its caches for the file to the device
  // (qmgl_file::flush). Raises as both do.
  void flush_to_disk();

  // The process's standard output: made on the first call over a duplicate of the standard
  // output handle, writing at its position, and destroyed (so flushed) at exit. Raises as
  // qmgl_file::std_output does; the next call tries again.
  static qmgl_output_file& std_output();
  // The process's standard error: on the first call only, an output file over a duplicate of
  // the standard error handle, writing at its position, is made and kept for the life of the
  // process (never destroyed, so never flushed by itself: flush what is written). When that
  // fails, for example in a process without a standard error handle, the failure is written
  // as a record of kind 0x06070000 (level 0x40, tracepoint 0x141C0400, no object, no data),
  // and every call returns instead one output file on the null device ("nul:", mode append),
  // made when first needed and destroyed at exit, whose output is discarded.
  static qmgl_output_file& std_error();

 private:
  void really_put_char(char c) override;
  void really_flush_buffer(char const* data, int length) override;

  qmgl_file _file;
};

// An input stream over a file. Cannot be copied.
struct WYGL_API qmgl_input_file : public qmgl_input_imp, public qmgl_input_buffer_mixin {
  // Reads through a duplicate of file's handle, from the file's position.
  explicit qmgl_input_file(qmgl_file& file);
  // Opens the file name for reading, with open_existing and the given denied value. Failures
  // pass out as qmgl_file raises them (2 for a missing file, 32 for a share conflict).
  qmgl_input_file(char const* name, qmgl_file::access_denied_indicator denied);

  // Always false.
  bool is_interactive() override;

  // The process's standard input: made on the first call over a duplicate of the standard
  // input handle, destroyed at exit. Raises as qmgl_file::std_input does.
  static qmgl_input_file& std_input();

 protected:
  // Reads at most 512 bytes into the buffer; none at the end of the file. Read failures pass
  // out of get_char as exc_unmapped_t.
  void fill_buffer() override;

 private:
  // The next byte of the file, or, at its end, what end_of_source gives for the end character
  // 0xFF: exc_end_of_input_t when throw-on-end is set, else 0xFF again at every read.
  char really_get_char() override;

  bool _interactive = false;
  qmgl_file _file;
};

#endif  // WYGL_QMGL_FILE_STREAM_H
