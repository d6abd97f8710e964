#include <wygl/qmgl_small_blocks.h>

#include <cstdint>
#include <cstdlib>
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

// The free blocks of one size class, as a stack of pointers: taking a block reads only the
// stack, not the block, whose memory the caller is about to write anyway. (A list linked
// through the blocks would wait for each block's memory when it is taken.)
struct class_stack {
  void** slots;
  std::size_t count;
  std::size_t capacity;
};

// A thread's stacks. Constant-initialised and trivially destructible, so that reaching it
// costs no check for its construction; `closer` empties it when the thread ends.
struct thread_lists {
  class_stack stacks[classes];
  std::size_t kept;
  bool closer_armed;
  // Set when the thread ends or keeps no blocks: frees go to the heap.
  bool closed;
};

constinit thread_local thread_lists lists{};

// Gives the thread's free blocks back to the heap, and sends its later frees there too.
void close_lists() noexcept {
  for (class_stack& stack : lists.stacks) {
    for (std::size_t i = 0; i < stack.count; ++i)
      ::operator delete(stack.slots[i]);
    std::free(stack.slots);
    stack = class_stack{};
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

// Room for one more pointer on stack; false when memory for it runs out.
bool make_room(class_stack& stack) noexcept {
  if (stack.count < stack.capacity) return true;
  std::size_t const capacity = stack.capacity == 0 ? 256 : 2 * stack.capacity;
  void* const grown = std::realloc(stack.slots, capacity * sizeof(void*));
  if (grown == nullptr) return false;
  stack.slots = static_cast<void**>(grown);
  stack.capacity = capacity;
  return true;
}

}  // namespace

void* qmgl_small_block_allocate(std::size_t size) noexcept {
  if (keeps_blocks && size <= largest_block) {
    std::size_t const c = class_of(size);
    class_stack& stack = lists.stacks[c];
    if (stack.count != 0) {
      lists.kept -= (c + 1) * granule;
      return stack.slots[--stack.count];
    }
    return ::operator new((c + 1) * granule, std::nothrow);
  }
  return ::operator new(size, std::nothrow);
}

void qmgl_small_block_free(void* block, std::size_t size) noexcept {
  if (keeps_blocks && size <= largest_block && !lists.closed) {
    std::size_t const c = class_of(size);
    std::size_t const bytes = (c + 1) * granule;
    class_stack& stack = lists.stacks[c];
    if (lists.kept + bytes <= most_kept && make_room(stack)) {
      if (!lists.closer_armed) {
        lists.closer_armed = true;
        (void)&thread_closer;  // made now, so that it runs when the thread ends
      }
      stack.slots[stack.count++] = block;
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
