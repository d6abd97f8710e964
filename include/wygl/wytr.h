// wytr.h - trace hooks: object lifetimes and operation exits.
//
// wygl reports what it does as trace records handed to the trace library (qmtrc): nine words
// per record, named by a kind word and a tracepoint word (see wytr_ids.h). Every tracepoint
// first tests its level bit in the mask `trcevents` and builds nothing when the bit is clear,
// so a disabled tracepoint costs one load and one test.
//
// This header holds the two hooks that are part of the public API:
//
//  - wytr_class<ConstructKind, Level, Tracepoint, T>: an empty base class of a traced class T.
//    Its default constructor writes (ConstructKind, Tracepoint, address of the T object) when
//    Level is enabled, its destructor writes the same with ConstructKind + 0x10000 (the
//    "destroyed" kind). Its `int` constructor is silent, for classes whose constructors write
//    their own construction record or none.
//
//  - qmgl_trc_exit: the exit record of a traced operation.
//
// Example:
//
//   struct my_thing : wytr_class<wytr::kind_word(wytr::kind::constructed),
//                                wytr::level::lifetime, wytr::tp::thread_lifetime, my_thing> {
//     my_thing() {}  // writes "constructed" when the lifetime level (0x800) is set
//   };               // ~my_thing writes "destroyed"
//
// Thread safety: every hook may run on any thread; each record is one trcwriterec call.

#ifndef WYGL_WYTR_H
#define WYGL_WYTR_H

#include <atomic>
#include <cstdint>

#include <qmtrc/qmtrc.h>
#include <wygl/wygl_export.h>
#include <wygl/wytr_ids.h>

// True when any of `levels` is set in the trace mask. Inline at every tracepoint.
inline bool wytr_enabled(std::uint32_t levels) noexcept {
  return (std::atomic_ref<std::uint32_t>(trcevents).load(std::memory_order_relaxed) & levels) != 0;
}

// Writes a record without data: (kind, tracepoint, object).
inline void wytr_write_plain(std::uint32_t kind, std::uint32_t tracepoint,
                             void const* object) noexcept {
  trcwriterec(kind, tracepoint, object, 0, nullptr, 0, nullptr, 0, nullptr);
}

// While a base-class constructor or destructor runs, the T object around it is not (or no
// longer) alive, so the checker for dynamic types would object to naming it. Only its
// address is taken here, which is well defined for a non-virtual base.
#if defined(__GNUC__) || defined(__clang__)
#define WYTR_NO_DYNAMIC_TYPE_CHECK __attribute__((no_sanitize("vptr")))
#else
#define WYTR_NO_DYNAMIC_TYPE_CHECK
#endif

template <unsigned long ConstructKind, unsigned long Level, unsigned long Tracepoint, class T>
class wytr_class {
 public:
  // Copies nothing and writes nothing.
  wytr_class& operator=(wytr_class const&) noexcept { return *this; }

 protected:
  // The tracing form: writes the construction record when Level is enabled.
  WYTR_NO_DYNAMIC_TYPE_CHECK wytr_class() noexcept {
    if (wytr_enabled(Level)) wytr_write_plain(ConstructKind, Tracepoint, traced_object());
  }

  // The silent form: writes nothing.
  explicit wytr_class(int) noexcept {}

  wytr_class(wytr_class const&) noexcept = default;

  // Writes the destruction record when Level is enabled. Not virtual: T owns the dispatch.
  WYTR_NO_DYNAMIC_TYPE_CHECK ~wytr_class() {
    if (wytr_enabled(Level))
      wytr_write_plain(ConstructKind + 0x10000u, Tracepoint, traced_object());
  }

 private:
  // The records name the whole traced object, not this empty base inside it.
  WYTR_NO_DYNAMIC_TYPE_CHECK void const* traced_object() const noexcept {
    return static_cast<T const*>(this);
  }
};

// Writes the exit record of an operation: kind (exit_kind << 16) | 0x06000000 with a 4-byte
// zero, or, when (mask & (level * 2)) is set and an exception is reported as current
// (exc_t::get_current()), kind ((exit_kind / 10 + 8) << 16) | 0x06000000 with the
// exception's code. The caller tests the level; this function writes in every case. The
// three-argument form names object 0.
WYGL_API void qmgl_trc_exit(unsigned long tracepoint, unsigned long exit_kind, unsigned long level);
WYGL_API void qmgl_trc_exit(unsigned long tracepoint, unsigned long exit_kind, unsigned long level,
                            void const* object);

#endif  // WYGL_WYTR_H
