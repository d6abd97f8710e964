// The POSIX half of thread_stack.h.

#include "support/thread_stack.h"

#include <cstddef>

#include <pthread.h>

std::uintptr_t stack_floor_of_this_thread() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  void* low = nullptr;
  std::size_t size = 0;
  int const got = pthread_attr_getstack(&attributes, &low, &size);
  pthread_attr_destroy(&attributes);
  return got == 0 ? reinterpret_cast<std::uintptr_t>(low) : 0;
}
