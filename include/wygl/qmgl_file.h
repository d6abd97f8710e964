// qmgl_file.h - files: an owned file handle, and operations on file names.
//
// A qmgl_file owns one open file of the system and closes it when it ends. It is opened by
// name with an explicit action (what to do whether or not the file exists), the access wanted,
// and what other openers of the same file are denied meanwhile; or it takes a duplicate of a
// handle that the caller keeps. Reads and writes move raw bytes at the file's position. Static
// functions copy, rename, remove and test names, and make a canonical path. The process's
// three standard handles are available as qmgl_file objects.
//
// Example:
//
//   qmgl_file log("app.log", qmgl_file::open_or_create, qmgl_file::access_write,
//                 qmgl_file::deny_write);
//   log.append();
//   log.write("started\r\n", 9);
//   qmgl_file::rename("app.log", "app.old", qmgl_file::force);
//
// Every failure of the system is raised as exc_unmapped_t with the system's error number
// (Windows numbering on every platform: 2 file not found, 3 path not found, 5 access denied,
// 32 sharing violation, 80 file exists, ...) and its text (see qmgl_exc.h). An argument
// outside its enumeration raises exc_invalid_parameter_t with the message
// "exc_invalid_parameter", before the file is touched.
//
// Files created here grant every user of the machine full access, and their handles are
// inherited by child processes. Share modes bind every opener of the file on Windows; on POSIX
// systems they bind the openers that use this library, in any process, and only for regular
// files. None of the share modes allows deletion: while any handle holds a file open, remove
// and rename of it raise 32, and a forced rename onto it raises 5.
//
// Tracing: construction writes a text record (level 0x800, kind 0x061E0000, tracepoint
// 0x141A0000, the object) with the constructor's arguments; destruction the plain destruction
// record. read, write, seek, truncate, append and flush are traced operations (level 0x1000);
// the handle duplication made by the copy and handle constructors an inner one (level 0x10000,
// no object), with a state note "new_handle %p" (level 0x40000).
//
// Thread safety: an object is used by one thread at a time; distinct objects may be used on
// different threads. The standard-handle objects are made on the first call without a lock:
// make the first calls before starting threads.

#ifndef WYGL_QMGL_FILE_H
#define WYGL_QMGL_FILE_H

#include <compare>

#include <wygl/qmgl_ntarray.h>
#include <wygl/wygl_export.h>
#include <wygl/wytr.h>

struct WYGL_API qmgl_file
    : public wytr_class<wytr::kind_word(wytr::kind::constructed), wytr::level::lifetime,
                        wytr::tp::file_lifetime, qmgl_file> {
  // What to do depending on whether the file exists.
  enum action_indicator : int {
    create_new = 1,          // create; raises 80 when the file exists
    open_existing = 2,       // open; raises 2 (or 3) when it does not exist
    open_or_create = 3,      // open, creating an empty file when missing
    truncate_existing = 4,   // open and empty; raises when it does not exist
    create_or_truncate = 5,  // create, or empty an existing file
  };

  // The access wanted through the handle.
  enum access_requested_indicator : int {
    access_read = 1,
    access_write = 2,
    access_read_write = 3,
  };

  // What other openers of the file are denied while this handle is open. An open that
  // conflicts with another opener's access or denial raises 32 (sharing violation). Emptying a
  // file counts as writing to it.
  enum access_denied_indicator : int {
    deny_none = 0,
    deny_write = 2,
    deny_read_write = 3,
  };

  // Where seek counts from.
  enum seek_indicator : int {
    seek_begin = 0,
    seek_current = 1,
    seek_end = 2,
  };

  // Selects the overwriting forms of copy and rename. Its value is not examined.
  enum force_indicator : int { force };

  // A last-write time as a Windows file time: 100-nanosecond intervals since 1 January 1601,
  // UTC, in two 32-bit halves. Times order by the high half, then the low half.
  struct timestamp {
    unsigned int low;
    unsigned int high;

    friend bool operator==(timestamp const& a, timestamp const& b) = default;
    friend std::strong_ordering operator<=>(timestamp const& a, timestamp const& b) {
      if (auto const by_high = a.high <=> b.high; by_high != 0) return by_high;
      return a.low <=> b.low;
    }
  };

  // Opens name. The action is checked first; then the grant for everyone is prepared; then
  // the denied and the access values are checked, in that order; then the file is opened.
  // Raises exc_invalid_parameter_t for a value outside its enumeration (nothing is opened or
  // created), exc_unmapped_t for a failure of the system (for example 2 for a missing file
  // with open_existing, 3 for a missing folder on the way, 5 for a folder, 80 for an existing
  // file with create_new, 32 for a share conflict).
  qmgl_file(char const* name, action_indicator action, access_requested_indicator access,
            access_denied_indicator denied);
  // Holds a duplicate of handle (a Windows HANDLE; on POSIX systems a file descriptor's
  // number in the pointer's bits). The caller keeps handle, which stays open and usable after
  // this object ends. Raises exc_unmapped_t (6) when handle is not an open handle.
  explicit qmgl_file(void* handle);
  // Holds a duplicate of other's handle. Both share the file's position and share modes; each
  // closes only its own handle. Raises exc_unmapped_t when the duplicate cannot be made.
  qmgl_file(qmgl_file const& other);
  qmgl_file& operator=(qmgl_file const&) = delete;
  // Closes the handle; a failure to close is ignored.
  ~qmgl_file();

  // One read of at most count bytes at the position. Returns the number read, 0 at the end of
  // the file. Raises exc_unmapped_t (5 for a handle without read access).
  unsigned int read(void* buffer, unsigned int count);
  // One write of count bytes at the position. Returns the number written, which may be less
  // than count when the system took only part of the data (a full disk): compare. Raises
  // exc_unmapped_t when nothing could be written (5 for a handle without write access).
  unsigned int write(void const* buffer, unsigned int count);
  // Moves the position by offset from origin and returns the new position (the low 32 bits
  // of it). A new position of 0xFFFFFFFF is a success, not an error. Raises
  // exc_invalid_parameter_t for an origin outside seek_indicator, exc_unmapped_t for a
  // failure (131 for a position before the start, which stays where it was).
  unsigned long seek(long offset, seek_indicator origin);
  // Empties the file: the position moves to 0 and the file ends there. Raises
  // exc_unmapped_t.
  void truncate();
  // Moves the position to the end of the file. Raises exc_unmapped_t.
  void append();
  // Asks the system to write its caches for the file to the device. A handle whose data
  // cannot be flushed to a device (error 6: a console; on POSIX systems also terminals, pipes
  // and other special files) is no failure. Raises exc_unmapped_t for other failures (5 for a
  // handle without write access).
  void flush();
  // The file's last-write time. Raises exc_unmapped_t.
  timestamp get_last_mod_time();

  // Copies the file from to the name to, which keeps from's last-write time. Raises
  // exc_unmapped_t with the message "<system text> ( <from> ) ": 80 when to exists, 2 when
  // from is missing, 32 when one of them is held by a conflicting opener.
  static void copy(char const* from, char const* to);
  // As copy, overwriting an existing to.
  static void copy(char const* from, char const* to, force_indicator);
  // Renames from to to; a file may move to another volume. Raises exc_unmapped_t with the
  // message "<system text> ( <from> ) ": 183 when to exists (both files stay as they were), 2
  // when from is missing, 3 when to's folder is missing, 32 while a handle holds from open.
  static void rename(char const* from, char const* to);
  // Renames from to to, replacing an existing file to in the same step (MoveFileEx with
  // MOVEFILE_REPLACE_EXISTING and MOVEFILE_COPY_ALLOWED): to is never removed before from has
  // taken its place, and a failed forced rename leaves both files as they were. Raises as
  // rename does, except that an existing to is no failure; 5 when to is a folder or a handle
  // holds it open. Renaming a file onto another spelling of its own name (a "." in the path,
  // or on Windows letters in another case) keeps the file.
  static void rename(char const* from, char const* to, force_indicator);
  // Removes the file name. Raises exc_unmapped_t with the message "<system text> ( <name> ) "
  // (2 when it is missing, 5 for a folder, 32 while a handle holds the file open).
  static void remove(char const* name);
  // Whether name exists, as a file or a folder. False when the name or a folder on its path is
  // missing (errors 2 and 3); other errors raise exc_unmapped_t with the system's text alone
  // (206 for a name too long for the system).
  static bool exists(char const* name);
  // The full path of name, in lower case: the current folder before a relative name, "." and
  // ".." resolved. Windows gives its own form (backslashes, drive letter); POSIX systems build
  // the path from the text alone, without following symbolic links. Raises exc_unmapped_t with
  // the message "<system text> ( <name> ) " when the system reports why it cannot make the
  // path, and exc_assertion_failed_t ("assertion failed: length2 == length - 1") when the path
  // changed length between the two calls that make it (the current folder changed meanwhile)
  // or the system gives no path without saying why (an empty or null name).
  static qmgl_ntarray_of<char, 0> canonize(char const* name);

  // The process's standard handles, each as one object made on the first call from a
  // duplicate of the handle the process has then, and destroyed at exit. Raises
  // exc_unmapped_t (6) when the process has no such handle; the next call tries again.
  static qmgl_file& std_input();
  static qmgl_file& std_output();
  static qmgl_file& std_error();

 private:
  // A duplicate of handle in this process, with the same access, not inherited by child
  // processes. Raises exc_unmapped_t.
  static void* duplicate_handle(void* handle);

  void* _handle;
};

#endif  // WYGL_QMGL_FILE_H
