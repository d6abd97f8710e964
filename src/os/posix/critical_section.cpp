#include "os/critical_section.h"

#include <new>

#include <pthread.h>

namespace wygl::os {
namespace {

static_assert(sizeof(pthread_mutex_t) <= critical_section_size);
static_assert(alignof(pthread_mutex_t) <= critical_section_alignment);

pthread_mutex_t* mutex_in(void* storage) noexcept {
  return static_cast<pthread_mutex_t*>(storage);
}

}  // namespace

// A plain recursive mutex: only threads of this process use it, and it reports no errors.
void initialize_critical_section(void* storage) noexcept {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void delete_critical_section(void* storage) noexcept {
  pthread_mutex_destroy(mutex_in(storage));
}

void enter_critical_section(void* storage) noexcept {
  pthread_mutex_lock(mutex_in(storage));
}

void leave_critical_section(void* storage) noexcept {
  pthread_mutex_unlock(mutex_in(storage));
}

}  // namespace wygl::os
