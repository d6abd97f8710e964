// qmgl_local.h - an owning pointer to a heap array.
//
// qmgl_local_array_of<T> holds one heap array of T, or null, and frees it when it ends or
// when it is given another array. It is the library's scratch buffer (T = char or unsigned
// char) and the storage of value arrays. It does not know its length: the owner does.
//
// Example:
//
//   qmgl_local_array_of<char> buffer(length);  // length chars, not initialised
//   std::memcpy(buffer, text, length);         // converts to char*
//   buffer[0] = 'x';
//   buffer.resize(2 * length);                 // a new array: the old contents are gone
//
// An array of char or unsigned char is plain bytes, not initialised. For an element type
// with a constructor, every element of a new array is default-constructed, and freeing the
// array destroys every element (the array keeps its element count for that). A constructor
// that throws leaves the object as it was, with the elements already built destroyed.
//
// The char and unsigned char forms are compiled into the library; any other element type is
// instantiated where it is used, from this header.
//
// Thread safety: an object is used by one thread at a time.

#ifndef WYGL_QMGL_LOCAL_H
#define WYGL_QMGL_LOCAL_H

#include <new>

#include <wygl/qmgl_ban.h>
#include <wygl/wygl_export.h>

// Returns block when it is not null; otherwise raises exc_not_enough_memory_t with the
// message "not enough memory" and the file name "src/qmgl/qmgl_local". The allocation check
// of qmgl_local_array_of, out of line so that every instantiation reports the same way.
WYGL_API void* qmgl_local_check_alloc(void* block);

// Cannot be copy-constructed (qmgl_ban_copy). Copy assignment is deleted as well: copying the
// pointer would free the array twice. Hand an array over with operator=(T*) instead.
template <class T>
struct qmgl_local_array_of : qmgl_ban_copy {
  // The owned array, from new T[n], or null.
  T* _array;

  // Holds nothing.
  qmgl_local_array_of() noexcept;

  // Holds a new array of n elements. Raises exc_not_enough_memory_t when there is no memory
  // for it; an exception from T's constructor passes through.
  explicit qmgl_local_array_of(unsigned n);

  // Frees the array, destroying its elements.
  ~qmgl_local_array_of();

  qmgl_local_array_of& operator=(qmgl_local_array_of const&) = delete;

  // Frees the held array and takes ownership of p, which must be null or come from new T[n].
  // Returns p. Handing over the array already held changes nothing.
  T* operator=(T* p) noexcept;

  // Replaces the array by a new one of n elements; the old contents are not carried over.
  // The new array is made before the old one is freed, so on failure (as for the
  // constructor) the object keeps its old array.
  void resize(unsigned n);

  operator T*() const noexcept;

  // Element i, without a bounds test.
  T& operator[](unsigned i) const noexcept;
  T& operator[](int i) const noexcept;

 private:
  static T* allocate(unsigned n);
};

// The members are defined outside the class, none of them inline: mingw-w64 neither exports the
// inline members of an exported instantiation nor builds them where it is imported.

template <class T>
qmgl_local_array_of<T>::qmgl_local_array_of() noexcept : _array(nullptr) {}

template <class T>
qmgl_local_array_of<T>::qmgl_local_array_of(unsigned n) : _array(allocate(n)) {}

template <class T>
qmgl_local_array_of<T>::~qmgl_local_array_of() {
  delete[] _array;
}

template <class T>
T* qmgl_local_array_of<T>::operator=(T* p) noexcept {
  if (p != _array) {
    delete[] _array;
    _array = p;
  }
  return p;
}

template <class T>
void qmgl_local_array_of<T>::resize(unsigned n) {
  T* const fresh = allocate(n);
  delete[] _array;
  _array = fresh;
}

template <class T>
qmgl_local_array_of<T>::operator T*() const noexcept {
  return _array;
}

template <class T>
T& qmgl_local_array_of<T>::operator[](unsigned i) const noexcept {
  return _array[i];
}

template <class T>
T& qmgl_local_array_of<T>::operator[](int i) const noexcept {
  return _array[i];
}

template <class T>
T* qmgl_local_array_of<T>::allocate(unsigned n) {
  return static_cast<T*>(qmgl_local_check_alloc(new (std::nothrow) T[n]));
}

extern template struct WYGL_API qmgl_local_array_of<char>;
extern template struct WYGL_API qmgl_local_array_of<unsigned char>;

#endif  // WYGL_QMGL_LOCAL_H
