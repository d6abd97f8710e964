// qmgl_mem.h - blocks of memory shared between processes by name.
//
// The first process creates a named block, the others open it by the same name, and each sees
// it at an address of its own. A new block is filled with zero bytes. The library puts nothing
// into the block: its layout, and any locking around it (a named lock of qmgl_sync.h), are the
// host's.
//
//   qmgl_mem_shared table("app.table", 4096, qmgl_action_create_or_open);
//   auto* counters = static_cast<long*>(table.get_address());
//
//   qmgl_mem_shared view("app.table", 0, qmgl_action_open);  // elsewhere: the whole block
//
// Names follow the rules of the named locks and signals (qmgl_sync.h): one name space for
// locks, signals and blocks; the same qmgl_action_indicator; blocks usable by every user of
// the machine. A block lives while any process holds it: after the last holder is destroyed,
// or killed, opening its name fails, and its memory is freed as qmgl_sync.h says.
//
// Failures raise exceptions of the exc_t tree (qmgl_exc.h) with the file name
// "src/qmgl/qmgl_mem". The classes write no trace records.
//
// Thread safety: an object is used by one thread at a time. The block's content has no
// protection at all: every thread and process that maps it may read and write it at once.

#ifndef WYGL_QMGL_MEM_H
#define WYGL_QMGL_MEM_H

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_sync.h>
#include <wygl/wygl_export.h>

// A block of memory at an address of this process. Not copyable.
struct WYGL_API qmgl_mem : qmgl_ban_copy_and_assignment {
  virtual ~qmgl_mem();

  // The block's address in this process.
  void* get_address() const noexcept { return _address; }

 protected:
  qmgl_mem() noexcept : _address(nullptr) {}

  void* _address;
};

// A named block shared between processes.
struct WYGL_API qmgl_mem_shared : qmgl_mem {
  // qmgl_action_open opens the block named name, which some process must hold (exc_unmapped_t
  // with the system's error otherwise: ERROR_FILE_NOT_FOUND, 2, for a name that does not
  // exist). qmgl_action_create creates a block of size bytes; one of that name that exists
  // already raises exc_already_exists_t ("exc_already_exists"). qmgl_action_create_or_open
  // creates it or opens the one that exists, which keeps the size it was created with.
  //
  // Then maps size bytes of the block, or the whole block when size is 0. Windows rounds a
  // block up to whole pages, and so may a view: a view larger than that raises exc_unmapped_t
  // with ERROR_ACCESS_DENIED (5). Creating with size 0 raises exc_unmapped_t with
  // ERROR_INVALID_PARAMETER (87); a name that exists as a lock or a signal, ERROR_INVALID_HANDLE
  // (6); other system failures, exc_unmapped_t with the system's error. A constructor that
  // raises leaves nothing open.
  qmgl_mem_shared(qmgl_ntarray_of<char, 0> const& name, unsigned int size,
                  qmgl_action_indicator action);

  // Unmaps the view and closes the handle (results not examined). The block disappears when the
  // last process has closed it.
  ~qmgl_mem_shared() override;

 private:
  void* _mapping;
};

#endif  // WYGL_QMGL_MEM_H
