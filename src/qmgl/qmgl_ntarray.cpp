// Reference-counted strings: building bodies, the operations that make new texts, comparison.
//
// The body keeps the length of its text, the number of elements before the first Nul in its
// array. Every builder below knows or finds that number while it builds the array, so the
// stored length is always exactly what counting up to the first Nul would give:
//  - a copy of a text stops at the text's first Nul, so the copied count is the length;
//  - joining two texts (s + t, s + p, the (a, b) constructor) joins two Nul-free runs;
//  - s + c is s's length, plus one unless c is Nul (the array then holds s, Nul, Nul);
//  - the (a, na, b, nb) constructor copies exactly na + nb elements, Nul or not, and takes the
//    position of the first Nul among them (or na + nb).
// Operations that count from the text (substring, s - n, find, comparisons) use the stored
// length in place of the terminating Nul they would otherwise stop at. Comparisons find the
// first difference with block compares over the known or bounded lengths, which gives the
// same result as the element-by-element walk of compare().
//
// Body and elements share one heap block, so a new text costs one allocation. The array holds
// exactly the elements the text needs plus its terminator: the (p, n) constructor does not
// reserve room for n elements when p's text is shorter, since elements after the terminator
// of such a copy are never set nor readable through the interface.

#include <wygl/qmgl_ntarray.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include <wygl/qmgl_small_blocks.h>

#include "qmgl/qmgl_alloc.h"
#include "qmgl/qmgl_byte_scan.h"
#include "qmgl/qmgl_ntarray_build.h"

static_assert(sizeof(unsigned) == 4, "lengths are 32-bit");

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_ntarray";

// The most elements a body may hold before its terminator: the length must fit the 32-bit
// `unsigned`, with one more element for the terminator.
constexpr std::uint64_t max_elements = 0xFFFFFFFEu;

template <class T, T Nul>
using body_of = qmgl_ntarray_imp_of<T, Nul>;

// Index of the first Nul among p[0..n), or n. Reads no element after that Nul.
template <class T, T Nul>
std::size_t first_nul(T const* p, std::size_t n) noexcept {
  if (n == 0) return 0;
  if constexpr (std::is_same_v<T, char>) {
    auto const* hit = static_cast<char const*>(std::memchr(p, Nul, n));
    return hit != nullptr ? static_cast<std::size_t>(hit - p) : n;
  } else {
    return static_cast<std::size_t>(std::find(p, p + n, Nul) - p);
  }
}

// Elements before the first Nul at p; 0 for null.
template <class T, T Nul>
std::size_t text_length(T const* p) noexcept {
  if (p == nullptr) return 0;
  if constexpr (std::is_same_v<T, char> && Nul == 0) {
    return std::strlen(p);
  } else {
    std::size_t n = 0;
    while (p[n] != Nul)
      ++n;
    return n;
  }
}

// A body of room for n elements plus the terminator; raises when n is beyond what a body holds.
template <class T, T Nul>
body_of<T, Nul>* create_body(std::uint64_t n) {
  return body_of<T, Nul>::create(n > max_elements ? 0xFFFFFFFFu : static_cast<unsigned>(n));
}

template <class T>
void copy_elements(T* to, T const* from, std::size_t n) noexcept {
  if (n != 0) std::memcpy(to, from, n * sizeof(T));
}

// A body holding la elements of a, then lb elements of b, then Nul, where neither run holds a
// Nul: its length is la + lb.
template <class T, T Nul>
body_of<T, Nul>* join(T const* a, std::size_t la, T const* b, std::size_t lb) {
  std::uint64_t const n = std::uint64_t{la} + lb;
  auto* body = create_body<T, Nul>(n);
  copy_elements(body->data, a, la);
  copy_elements(body->data + la, b, lb);
  body->data[n] = Nul;
  body->length = static_cast<unsigned>(n);
  return body;
}

// Narrow elements order as signed bytes, wide ones as unsigned 16-bit units.
template <class T>
auto order_key(T x) noexcept {
  if constexpr (std::is_same_v<T, char>)
    return static_cast<int>(static_cast<signed char>(x));
  else
    return static_cast<int>(x);
}

template <class T>
int three_way(T x, T y) noexcept {
  int const kx = order_key(x);
  int const ky = order_key(y);
  return kx > ky ? 1 : (kx == ky ? 0 : -1);
}

}  // namespace

// ---- the body ----

// The block of a body with room for n elements: the body, then n elements and the terminator.
// Short texts come from the thread's small blocks.
template <class T, T Nul>
std::size_t qmgl_ntarray_imp_of<T, Nul>::block_size(unsigned n) noexcept {
  return sizeof(qmgl_ntarray_imp_of) + (std::size_t{n} + 1) * sizeof(T);
}

template <class T, T Nul>
qmgl_ntarray_imp_of<T, Nul>* qmgl_ntarray_imp_of<T, Nul>::create(unsigned n) {
  constexpr std::size_t header = sizeof(qmgl_ntarray_imp_of);
  static_assert(header % alignof(T) == 0);
  // The block must also be expressible in size_t (a limit on 32-bit platforms).
  constexpr std::uint64_t fits = (SIZE_MAX - header) / sizeof(T) - 1;
  constexpr std::uint64_t most = fits < max_elements ? fits : max_elements;
  void* block = nullptr;
  if (std::uint64_t{n} <= most) block = qmgl_small_block_allocate(block_size(n));
  qmgl_check_alloc(source_file, __LINE__, block);
  auto* body = ::new (block) qmgl_ntarray_imp_of();
  body->room = n;
  body->data = static_cast<T*>(static_cast<void*>(static_cast<unsigned char*>(block) + header));
  return body;
}

template <class T, T Nul>
void qmgl_ntarray_imp_of<T, Nul>::destroy(qmgl_ntarray_imp_of* body) noexcept {
  std::size_t const size = block_size(body->room);
  body->~qmgl_ntarray_imp_of();
  qmgl_small_block_free(body, size);
}

// ---- construction and assignment ----

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>::qmgl_ntarray_of() : _imp(join<T, Nul>(nullptr, 0, nullptr, 0)) {}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>::qmgl_ntarray_of(T const* p)
    : _imp(join<T, Nul>(p, text_length<T, Nul>(p), nullptr, 0)) {}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>::qmgl_ntarray_of(T const* p, unsigned n)
    : _imp(join<T, Nul>(p, p != nullptr ? first_nul<T, Nul>(p, n) : 0, nullptr, 0)) {}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>::qmgl_ntarray_of(T const* a, T const* b)
    : _imp(join<T, Nul>(a, text_length<T, Nul>(a), b, text_length<T, Nul>(b))) {}

namespace {

// The two-part form: exactly na elements of a and nb of b (Nul elements for a null part),
// then Nul; the length is the position of the first Nul among the na + nb.
template <class T, T Nul>
body_of<T, Nul>* join_exactly(T const* a, unsigned na, T const* b, unsigned nb) {
  std::uint64_t const n = std::uint64_t{na} + nb;
  auto* body = create_body<T, Nul>(n);
  if (a != nullptr)
    copy_elements(body->data, a, na);
  else
    std::fill_n(body->data, na, Nul);
  if (b != nullptr)
    copy_elements(body->data + na, b, nb);
  else
    std::fill_n(body->data + na, nb, Nul);
  body->data[n] = Nul;
  body->length = static_cast<unsigned>(first_nul<T, Nul>(body->data, static_cast<std::size_t>(n)));
  return body;
}

}  // namespace

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>::qmgl_ntarray_of(T const* a, unsigned na, T const* b, unsigned nb)
    : _imp(join_exactly<T, Nul>(a, na, b, nb)) {}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul>& qmgl_ntarray_of<T, Nul>::operator=(T const* p) {
  _imp = join<T, Nul>(p, text_length<T, Nul>(p), nullptr, 0);
  return *this;
}

// ---- new texts ----

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::substring(unsigned start, unsigned n) const {
  unsigned const length = _imp->length;
  if (start > length) return qmgl_ntarray_of();
  return qmgl_ntarray_of(join<T, Nul>(_imp->data + start, std::min(n, length - start), nullptr, 0),
                         bind_tag{});
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+(qmgl_ntarray_of const& t) const {
  return qmgl_ntarray_of(join<T, Nul>(_imp->data, _imp->length, t._imp->data, t._imp->length),
                         bind_tag{});
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+(T const* p) const {
  return qmgl_ntarray_of(join<T, Nul>(_imp->data, _imp->length, p, text_length<T, Nul>(p)),
                         bind_tag{});
}

namespace {

// s followed by exactly c, then Nul.
template <class T, T Nul>
body_of<T, Nul>* append_one(body_of<T, Nul> const* s, T c) {
  std::uint64_t const length = s->length;
  auto* body = create_body<T, Nul>(length + 1);
  copy_elements(body->data, s->data, static_cast<std::size_t>(length));
  body->data[length] = c;
  body->data[length + 1] = Nul;
  body->length = static_cast<unsigned>(c == Nul ? length : length + 1);
  return body;
}

// The first length - n elements (unsigned arithmetic), of at most the whole text.
template <class T, T Nul>
body_of<T, Nul>* drop_last(body_of<T, Nul> const* s, int n) {
  unsigned const wanted = s->length - static_cast<unsigned>(n);
  return join<T, Nul>(s->data, std::min(wanted, s->length), nullptr, 0);
}

}  // namespace

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+(T c) const {
  return qmgl_ntarray_of(append_one<T, Nul>(_imp, c), bind_tag{});
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator-(int n) const {
  return qmgl_ntarray_of(drop_last<T, Nul>(_imp, n), bind_tag{});
}

// ---- changing a handle: build, rebind (new count up before old down), return a copy ----

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+=(qmgl_ntarray_of const& t) {
  _imp = join<T, Nul>(_imp->data, _imp->length, t._imp->data, t._imp->length);
  return *this;
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+=(T const* p) {
  _imp = join<T, Nul>(_imp->data, _imp->length, p, text_length<T, Nul>(p));
  return *this;
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator+=(T c) {
  _imp = append_one<T, Nul>(_imp, c);
  return *this;
}

template <class T, T Nul>
qmgl_ntarray_of<T, Nul> qmgl_ntarray_of<T, Nul>::operator-=(int n) {
  _imp = drop_last<T, Nul>(_imp, n);
  return *this;
}

// ---- comparison and search ----

namespace {

// compare() walks to the first position where the elements differ or a's text ends. Given
// that a holds la elements before a Nul and that b's first lb elements are not Nul while b[lb]
// is Nul or lb > la, that position is the first difference among the first min(la, lb)
// elements, or that count itself. The first differing byte lies in the first differing
// element.
template <class T>
int compare_known(T const* a, std::size_t la, T const* b, std::size_t lb) noexcept {
  std::size_t const common = std::min(la, lb);
  std::size_t const i = qmgl_first_difference(a, b, common * sizeof(T)) / sizeof(T);
  return three_way(a[i], b[i]);
}

}  // namespace

template <class T, T Nul>
int qmgl_ntarray_of<T, Nul>::compare(T const* a, T const* b) noexcept {
  if constexpr (std::is_same_v<T, char> && Nul == 0) {
    // a's length from the library's fast search, then b's, bounded by where the walk must stop.
    std::size_t const la = std::strlen(a);
    return compare_known(a, la, b, first_nul<T, Nul>(b, la + 1));
  } else {
    while (*a != Nul && *a == *b) {
      ++a;
      ++b;
    }
    return three_way(*a, *b);
  }
}

template <class T, T Nul>
int qmgl_ntarray_of<T, Nul>::compare_to(T const* p) const noexcept {
  std::size_t const length = _imp->length;
  return compare_known(_imp->data, length, p, first_nul<T, Nul>(p, length + 1));
}

template <class T, T Nul>
bool qmgl_ntarray_of<T, Nul>::equals(T const* p) const noexcept {
  if constexpr (std::is_same_v<T, char> && Nul == 0) {
    // This text holds no Nul before its terminator, so the C library's comparison, which stops
    // at the first difference or the common terminator, finds equality exactly when compare()
    // does.
    return std::strcmp(_imp->data, p) == 0;
  } else {
    std::size_t const length = _imp->length;
    return first_nul<T, Nul>(p, length + 1) == length &&
           (length == 0 || std::memcmp(_imp->data, p, length * sizeof(T)) == 0);
  }
}

template <class T, T Nul>
bool qmgl_ntarray_of<T, Nul>::operator==(qmgl_ntarray_of const& t) const noexcept {
  // Equal texts are exactly those of equal length and equal elements.
  unsigned const length = _imp->length;
  return length == t._imp->length &&
         (length == 0 || std::memcmp(_imp->data, t._imp->data, length * sizeof(T)) == 0);
}

template <class T, T Nul>
int qmgl_ntarray_of<T, Nul>::compare_to(qmgl_ntarray_of const& t) const noexcept {
  // Both arrays hold a Nul at their length.
  return compare_known<T>(_imp->data, _imp->length, t._imp->data, t._imp->length);
}

template <class T, T Nul>
int qmgl_ntarray_of<T, Nul>::find(char c,
                                  unsigned start) const noexcept requires std::is_same_v<T, char> {
  // Written for any T: some compilers instantiate a constrained member with the class.
  unsigned const length = _imp->length;
  if (start > length) return -1;
  T const* const from = _imp->data + start;
  T const* const end = _imp->data + length;
  T const* hit = nullptr;
  if constexpr (std::is_same_v<T, char>) {
    if (from != end)
      hit = static_cast<char const*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
  } else {
    hit = std::find(from, end, static_cast<T>(c));
  }
  return hit != nullptr && hit != end ? static_cast<int>(hit - from) : -1;
}

namespace {

// s's body when it may take n more elements in place: s holds it alone and it has the room.
body_of<char, 0>* body_to_extend(qmgl_ntarray_of<char, 0>& s, std::uint64_t n) noexcept {
  auto* const body = static_cast<body_of<char, 0>*>(s._imp);
  // Reading the count with acquire ordering orders the writes after whatever the holders of
  // earlier handles read before they released the body.
  if (std::uint64_t{body->length} + n <= body->room && body->count.value_acquire() == 1)
    return body;
  return nullptr;
}

// Moves s to a new body holding its text, with room for n more elements and at least twice
// the text, so that appends in a row cost time linear in their total.
body_of<char, 0>* move_to_larger_body(qmgl_ntarray_of<char, 0>& s, std::uint64_t n) {
  body_of<char, 0> const* const body = s._imp;
  unsigned const length = body->length;
  std::uint64_t const grown = std::max<std::uint64_t>({16, std::uint64_t{length} * 2, length + n});
  auto* bigger = create_body<char, 0>(grown);
  copy_elements(bigger->data, body->data, length);
  bigger->data[length] = '\0';
  bigger->length = length;
  s._imp = bigger;
  return bigger;
}

}  // namespace

void qmgl_ntarray_append(qmgl_ntarray_of<char, 0>& s, char c) {
  body_of<char, 0>* body = body_to_extend(s, 1);
  if (body == nullptr) body = move_to_larger_body(s, 1);
  unsigned const length = body->length;
  body->data[length] = c;
  body->data[length + 1] = '\0';
  if (c != '\0') body->length = length + 1;
}

char* qmgl_ntarray_room(qmgl_ntarray_of<char, 0>& s, std::size_t n) {
  body_of<char, 0>* body = body_to_extend(s, n);
  if (body == nullptr) body = move_to_larger_body(s, n);
  return body->data + body->length;
}

void qmgl_ntarray_extend(qmgl_ntarray_of<char, 0>& s, std::size_t k) noexcept {
  auto* const body = static_cast<body_of<char, 0>*>(s._imp);
  body->length += static_cast<unsigned>(k);
  body->data[body->length] = '\0';
}

// The exported instantiations.
template struct qmgl_ntarray_imp_of<char, 0>;
template struct qmgl_ntarray_imp_of<unsigned short, 0>;
template struct qmgl_ntarray_of<char, 0>;
template struct qmgl_ntarray_of<unsigned short, 0>;
