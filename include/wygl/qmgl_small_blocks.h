// qmgl_small_blocks.h - small memory blocks kept by each thread for its next allocations.
//
// The bodies of values, of short strings and of short byte vectors come from here: the value
// reader makes them by the hundred thousand, and their owners free them one by one.
//
// A block freed here goes to a stack of the freeing thread, by size class (16, 32, ... 128
// bytes), and the next allocation of that class on the thread takes it back without a call
// into the heap. Every block is a heap block of its class's full size (::operator new), so
// any thread may free it, and a block freed after its thread's lists are gone, or beyond what
// a thread keeps, simply goes back to the heap. A thread keeps at most 16 MB of free blocks,
// which it gives back to the heap when it ends.
//
//   void* p = qmgl_small_block_allocate(24);   // a 32-byte block, or null
//   ...
//   qmgl_small_block_free(p, 24);              // the same size as asked for
//
// Sizes above 128 bytes go to the heap directly. Builds with AddressSanitizer keep no blocks,
// so that a block used after it is freed is still reported.

#ifndef WYGL_QMGL_SMALL_BLOCKS_H
#define WYGL_QMGL_SMALL_BLOCKS_H

#include <cstddef>

#include <wygl/wygl_export.h>

// A block of at least size bytes, aligned for any object; null when memory runs out.
WYGL_API void* qmgl_small_block_allocate(std::size_t size) noexcept;
// Frees a block of qmgl_small_block_allocate, given the size it was asked for. Any thread may
// free it.
WYGL_API void qmgl_small_block_free(void* block, std::size_t size) noexcept;
// Whether the calling thread keeps the blocks it frees (it does from its start). Keeping none
// gives back those it holds, and from then on every allocation of the thread goes to the
// heap: for a thread whose bulk work is done, or one that counts the heap's allocations.
WYGL_API void qmgl_small_blocks_keep_on_this_thread(bool keep) noexcept;

#endif  // WYGL_QMGL_SMALL_BLOCKS_H
