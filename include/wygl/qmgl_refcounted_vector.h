// qmgl_refcounted_vector.h - shared, immutable byte strings.
//
// qmgl_refcounted_vector_of<unsigned char> is a handle to a shared body holding a run of
// bytes and their number. It is the payload of a BIN value (qmgl_value.h) and the result of
// qmgl_value::as_bytes. Copying a handle copies one pointer and counts one more owner; the
// bytes of a body never change after it is made, so every operation that would change them
// builds a new body.
//
// Example:
//
//   unsigned char const bytes[] = {0x00, 0xab, 0xff};
//   qmgl_refcounted_vector_of<unsigned char> v(bytes, 3);   // its own copy of the 3 bytes
//   qmgl_refcounted_vector_of<unsigned char> w = v;          // shares v's body
//   auto joined = v + w;                                     // a new body of 6 bytes
//   unsigned char const* p = joined;                         // the bytes; joined.get_size() is 6
//
// The whole template lives in this header; nothing of it is exported from the library.
//
// Failures: making a body raises exc_not_enough_memory_t ("not enough memory", file
// src/qmgl/qmgl_refcounted_vector) when memory runs out or when the body would hold more than
// 0xFFFFFFFE elements; nothing is leaked and the handles involved keep their bodies.
//
// Thread safety: handles on different threads may share a body and be copied and destroyed
// concurrently (the count changes atomically, the bytes never change). One handle object is
// used by one thread at a time.

#ifndef WYGL_QMGL_REFCOUNTED_VECTOR_H
#define WYGL_QMGL_REFCOUNTED_VECTOR_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_small_blocks.h>
#include <wygl/qmgl_sync.h>

// The shared body: the count of handles, the elements and their number. Body and elements
// share one heap block, from qmgl_small_blocks.h.
template <class T>
struct qmgl_refcounted_vector_imp_of {
  static_assert(std::is_trivially_copyable_v<T>, "elements are copied as bytes");

  // Number of handles bound to this body; 0 when it is made.
  qmgl_sync_value count;
  // The elements, with room for one more that is not part of the vector and not set; null
  // for the body of a default-constructed vector.
  T* data;
  // Number of elements.
  unsigned length;

  // A body with count 0 and room for length elements plus one, which the caller fills before
  // binding it to a handle. Raises exc_not_enough_memory_t.
  static qmgl_refcounted_vector_imp_of* create(unsigned length) {
    constexpr std::size_t header = sizeof(qmgl_refcounted_vector_imp_of);
    static_assert(header % alignof(T) == 0);
    constexpr std::uint64_t most = (SIZE_MAX - header) / sizeof(T) - 1;
    void* block = nullptr;
    if (length <= 0xFFFFFFFEu && std::uint64_t{length} <= most)
      block = qmgl_small_block_allocate(header + (std::size_t{length} + 1) * sizeof(T));
    if (block == nullptr) out_of_memory(__LINE__);
    auto* body = ::new (block) qmgl_refcounted_vector_imp_of(length);
    body->data = reinterpret_cast<T*>(static_cast<unsigned char*>(block) + header);
    return body;
  }

  // A body without elements and without a buffer. Raises exc_not_enough_memory_t.
  static qmgl_refcounted_vector_imp_of* create_empty() {
    void* block = qmgl_small_block_allocate(sizeof(qmgl_refcounted_vector_imp_of));
    if (block == nullptr) out_of_memory(__LINE__);
    return ::new (block) qmgl_refcounted_vector_imp_of(0);
  }

  // Frees a body whose count has reached 0.
  static void destroy(qmgl_refcounted_vector_imp_of* body) noexcept {
    std::size_t const size =
        sizeof(qmgl_refcounted_vector_imp_of) +
        (body->data != nullptr ? (std::size_t{body->length} + 1) * sizeof(T) : 0);
    body->~qmgl_refcounted_vector_imp_of();
    qmgl_small_block_free(body, size);
  }

  qmgl_refcounted_vector_imp_of(qmgl_refcounted_vector_imp_of const&) = delete;
  qmgl_refcounted_vector_imp_of& operator=(qmgl_refcounted_vector_imp_of const&) = delete;

 private:
  explicit qmgl_refcounted_vector_imp_of(unsigned n) noexcept : count(), data(nullptr), length(n) {}
  ~qmgl_refcounted_vector_imp_of() = default;

  [[noreturn]] static void out_of_memory(int line) {
    throw exc_not_enough_memory_t("src/qmgl/qmgl_refcounted_vector", line, "not enough memory");
  }
};

// A vector: a handle bound to a shared body. Every constructor but the copy constructor makes
// a new body.
template <class T>
struct qmgl_refcounted_vector_of {
  using imp_type = qmgl_refcounted_vector_imp_of<T>;

  // No elements and no buffer: get_size() is 0 and the data pointer is null.
  qmgl_refcounted_vector_of() : _imp(imp_type::create_empty()) {}
  // A copy of the length elements at elements (which may be null when length is 0).
  qmgl_refcounted_vector_of(T const* elements, unsigned length) : _imp(copy_of(elements, length)) {}
  // Shares the other's body. Never raises.
  qmgl_refcounted_vector_of(qmgl_refcounted_vector_of const& other) noexcept = default;
  // The handle that drops the last count frees the body.
  ~qmgl_refcounted_vector_of() = default;

  // Shares the other's body; its count goes up before the old body's goes down, so v = v is
  // harmless. Never raises.
  qmgl_refcounted_vector_of& operator=(qmgl_refcounted_vector_of const& other) noexcept {
    _imp = other._imp;
    return *this;
  }

  // The number of elements.
  unsigned get_size() const noexcept { return _imp->length; }
  // The elements; null for a default-constructed vector. Valid while some handle keeps the
  // body.
  operator T const*() const noexcept { return _imp->data; }  // NOLINT: implicit, as documented

  // A new vector holding this vector's elements followed by b's.
  qmgl_refcounted_vector_of operator+(qmgl_refcounted_vector_of const& b) const {
    std::uint64_t const total = std::uint64_t{_imp->length} + b._imp->length;
    imp_type* body = imp_type::create(total > 0xFFFFFFFEu ? 0xFFFFFFFFu : unsigned(total));
    copy_elements(body->data, _imp->data, _imp->length);
    copy_elements(body->data + _imp->length, b._imp->data, b._imp->length);
    return qmgl_refcounted_vector_of(body, bind_tag{});
  }

  // The counting pointer to the body; never null.
  qmgl_refcounted_pointer_to<imp_type> _imp;

 protected:
  struct bind_tag {};
  // Binds to a body made with imp_type::create and filled by the caller. Never raises.
  qmgl_refcounted_vector_of(imp_type* body, bind_tag) noexcept : _imp(body) {}

 private:
  static void copy_elements(T* to, T const* from, unsigned n) noexcept {
    if (n != 0) std::memcpy(to, from, std::size_t{n} * sizeof(T));
  }
  static imp_type* copy_of(T const* elements, unsigned length) {
    imp_type* body = imp_type::create(length);
    copy_elements(body->data, elements, length);
    return body;
  }
};

#endif  // WYGL_QMGL_REFCOUNTED_VECTOR_H
