#include <wygl/qmgl_bitstr.h>

#include <cstring>
#include <new>

#include <wygl/qmgl_exc.h>

#include "qmgl/qmgl_alloc.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_bitstr";

unsigned bytes_for(unsigned bits) noexcept {
  return bits / 8 + (bits % 8 != 0 ? 1 : 0);
}

unsigned char* new_bytes(unsigned count) {
  return qmgl_check_alloc(source_file, __LINE__, new (std::nothrow) unsigned char[count]);
}

unsigned char bit_mask(unsigned n) noexcept {
  return static_cast<unsigned char>(1u << (n % 8));
}

}  // namespace

qmgl_bitstr::qmgl_bitstr(unsigned bits) : _size(bytes_for(bits)), _bytes(_size) {
  reset();
}

qmgl_bitstr::qmgl_bitstr(qmgl_bitstr const& other) : _size(other._size), _bytes() {
  _bytes = new_bytes(_size);
  std::memcpy(_bytes, other._bytes, _size);
}

qmgl_bitstr& qmgl_bitstr::operator=(qmgl_bitstr const& other) {
  if (this != &other) {
    unsigned char* const copy = new_bytes(other._size);
    std::memcpy(copy, other._bytes, other._size);
    _bytes = copy;
    _size = other._size;
  }
  return *this;
}

qmgl_bitstr::~qmgl_bitstr() = default;

void qmgl_bitstr::set(unsigned n, bool value) {
  unsigned const byte_num = n / 8;
  if (byte_num >= _size) {
    unsigned const grown_size = byte_num + 1;
    unsigned char* const grown = new_bytes(grown_size);
    std::memcpy(grown, _bytes, _size);
    std::memset(grown + _size, 0, grown_size - _size);
    _bytes = grown;
    _size = grown_size;
  }
  if (value)
    _bytes[byte_num] |= bit_mask(n);
  else
    _bytes[byte_num] &= static_cast<unsigned char>(~bit_mask(n));
}

void qmgl_bitstr::set() noexcept {
  std::memset(_bytes, 0xFF, _size);
}

void qmgl_bitstr::reset() noexcept {
  std::memset(_bytes, 0, _size);
}

void qmgl_bitstr::reset(unsigned n) {
  set(n, false);
}

bool qmgl_bitstr::test(unsigned n) const {
  unsigned const byte_num = n / 8;
  if (byte_num >= _size)
    throw exc_assertion_failed_t(source_file, __LINE__, "assertion failed: byte_num < _size");
  return (_bytes[byte_num] & bit_mask(n)) != 0;
}

qmgl_char_set::qmgl_char_set() : _bits(256) {}

void qmgl_char_set::add(char c) {
  _bits.set(static_cast<unsigned char>(c), true);
}

void qmgl_char_set::del(char c) {
  _bits.reset(static_cast<unsigned char>(c));
}

bool qmgl_char_set::contains(char c) const {
  return _bits.test(static_cast<unsigned char>(c));
}

void qmgl_char_set::empty() noexcept {
  _bits.reset();
}
