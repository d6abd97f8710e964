#include <wygl/qmgl_small_blocks.h>

#include <cstdint>
#include <new>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool keeps_blocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool keeps_blocks = false;
#else
constexpr bool keeps_blocks = true;
#endif
#else
constexpr bool keeps_blocks = true;
#endif

constexpr std::size_t granule = 16;
constexpr std::size_t classes = 8;
constexpr std::size_t largest_block = granule * classes;
constexpr std::size_t most_kept = 16 * 1024 * 1024;

struct free_block {
  free_block* next;
};

// A thread's lists. Constant-initialised and trivially destructible, so that reaching it
// costs no check for its construction; `closer` empties it when the thread ends.
struct thread_lists {
  free_block* heads[classes];
  std::size_t kept;
  bool closer_armed;
  // Set when the thread ends or keeps no blocks: frees go to the heap.
  bool closed;
};

constinit thread_local thread_lists lists{};

// Gives the thread's free blocks back to the heap, and sends its later frees there too.
void close_lists() noexcept {
  for (free_block*& head : lists.heads) {
    while (head != nullptr) {
      free_block* const next = head->next;
      ::operator delete(static_cast<void*>(head));
      head = next;
    }
  }
  lists.kept = 0;
  lists.closed = true;
}

// Closes the lists when the thread ends.
struct closer {
  ~closer() { close_lists(); }
};
thread_local closer thread_closer;

std::size_t class_of(std::size_t size) noexcept {
  return size == 0 ? 0 : (size - 1) / granule;
}

}  // namespace

void* qmgl_small_block_allocate(std::size_t size) noexcept {
  if (keeps_blocks && size <= largest_block) {
    std::size_t const c = class_of(size);
    if (free_block* const block = lists.heads[c]) {
      free_block* const next = block->next;
      lists.heads[c] = next;
      lists.kept -= (c + 1) * granule;
      // The next allocation reads the next block's link: fetch it now, while the caller
      // works, instead of waiting for memory then.
      if (next != nullptr) __builtin_prefetch(next, 1);
      return block;
    }
    return ::operator new((c + 1) * granule, std::nothrow);
  }
  return ::operator new(size, std::nothrow);
}

void qmgl_small_block_free(void* block, std::size_t size) noexcept {
  if (keeps_blocks && size <= largest_block && !lists.closed) {
    std::size_t const c = class_of(size);
    std::size_t const bytes = (c + 1) * granule;
    if (lists.kept + bytes <= most_kept) {
      if (!lists.closer_armed) {
        lists.closer_armed = true;
        (void)&thread_closer;  // made now, so that it runs when the thread ends
      }
      auto* const freed = static_cast<free_block*>(block);
      freed->next = lists.heads[c];
      lists.heads[c] = freed;
      lists.kept += bytes;
      return;
    }
  }
  ::operator delete(block);
}

void qmgl_small_blocks_keep_on_this_thread(bool keep) noexcept {
  if (keep)
    lists.closed = false;
  else
    close_lists();
}
