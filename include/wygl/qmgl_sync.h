// qmgl_sync.h - synchronisation: the interlocked counter.
//
// qmgl_sync_value is a 32-bit signed integer shared between threads without a lock. It is the
// reference count inside every shared string body, and hosts may use it as a counter or a
// flag of their own:
//
//   qmgl_sync_value users;          // 0
//   users.increment();              // 1, returns 1
//   if (users.decrement() == 0) {}  // the thread that sees 0 frees what the count guards
//   qmgl_sync_value flag;
//   if (flag.compare_and_swap(0, 1) == 0) {}  // this thread changed the flag from 0 to 1
//
// The interface speaks `long`, as on Windows; the value itself is always 32 bits wide, also
// where `long` is 64 bits: arithmetic wraps as a 32-bit integer does (0x7FFFFFFF + 1 is
// -2147483648), and a `long` argument beyond 32 bits counts with its low 32 bits only.
//
// Thread safety: every changing operation is one atomic read-modify-write with full (sequentially
// consistent) ordering. value() and assignment are single plain-ordered (relaxed) reads and
// writes: atomic, but ordering nothing around them. The class neither raises nor traces.

#ifndef WYGL_QMGL_SYNC_H
#define WYGL_QMGL_SYNC_H

#include <atomic>
#include <cstdint>

struct qmgl_sync_value {
  // Value 0.
  qmgl_sync_value() noexcept : _value(0) {}
  // Value v (its low 32 bits).
  qmgl_sync_value(long v) noexcept : _value(narrow(v)) {}  // NOLINT: implicit, as documented
  // A new counter holding the other's value, read as value() reads it.
  qmgl_sync_value(qmgl_sync_value const& other) noexcept : _value(other.value_32()) {}

  // A plain copy of the other's value (one relaxed read, one relaxed write; not one atomic
  // step). Returns *this.
  qmgl_sync_value& operator=(qmgl_sync_value const& other) noexcept {
    _value.store(other.value_32(), std::memory_order_relaxed);
    return *this;
  }

  // The value, read without ordering.
  long value() const noexcept { return value_32(); }
  // The value, read with acquire ordering: whatever a thread did before it changed the value
  // with one of the interlocked operations below happens before what the reader does after.
  // A reference count read as 1 this way proves that the other holders are done with the
  // counted object.
  long value_acquire() const noexcept { return _value.load(std::memory_order_acquire); }

  // Adds 1; returns the new value.
  long increment() noexcept { return wrap_add(_value.fetch_add(1, std::memory_order_seq_cst), 1); }

  // Subtracts 1; returns the new value. A reference count is released by the thread for which
  // this returns 0.
  long decrement() noexcept { return wrap_add(_value.fetch_sub(1, std::memory_order_seq_cst), -1); }

  // Stores v; returns the value before.
  long swap(long v) noexcept { return _value.exchange(narrow(v), std::memory_order_seq_cst); }

  // Adds v; returns the new value (the value before + v, wrapped to 32 bits).
  long add(long v) noexcept {
    std::int32_t const n = narrow(v);
    return wrap_add(_value.fetch_add(n, std::memory_order_seq_cst), n);
  }

  // If the value equals `expected`, stores `replacement`. Returns the value before, whether or
  // not it was replaced.
  long compare_and_swap(long expected, long replacement) noexcept {
    std::int32_t before = narrow(expected);
    _value.compare_exchange_strong(before, narrow(replacement), std::memory_order_seq_cst,
                                   std::memory_order_seq_cst);
    return before;
  }

 private:
  static std::int32_t narrow(long v) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  }
  static std::int32_t wrap_add(std::int32_t a, std::int32_t b) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
  }
  std::int32_t value_32() const noexcept { return _value.load(std::memory_order_relaxed); }

  std::atomic<std::int32_t> _value;
};

#endif  // WYGL_QMGL_SYNC_H
