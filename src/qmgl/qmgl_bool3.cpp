#include <wygl/qmgl_bool3.h>

namespace {

constexpr qmgl_bool3_value U = qmgl_bool3_unknown;
constexpr qmgl_bool3_value F = qmgl_bool3_false;
constexpr qmgl_bool3_value T = qmgl_bool3_true;

// Rows and columns in the order unknown, false, true: entry (a + 1) * 3 + (b + 1).
constexpr qmgl_bool3_value and_table[9] = {
    U, F, U,  //
    F, F, F,  //
    U, F, T,  //
};
constexpr qmgl_bool3_value or_table[9] = {
    U, U, T,  //
    U, F, T,  //
    T, T, T,  //
};

// The row or column of x. A stored value outside the three states takes the row of unknown,
// so that a lookup never leaves its table.
int position(qmgl_bool3 const& x) noexcept {
  return x.value == qmgl_bool3_false || x.value == qmgl_bool3_true ? x.value + 1 : 0;
}

}  // namespace

qmgl_bool3 qmgl_bool3::operator!() const noexcept {
  switch (value) {
    case qmgl_bool3_false:
      return qmgl_bool3_true;
    case qmgl_bool3_true:
      return qmgl_bool3_false;
    default:
      return qmgl_bool3_unknown;
  }
}

qmgl_bool3 operator&&(qmgl_bool3 const& a, qmgl_bool3 const& b) noexcept {
  return and_table[position(a) * 3 + position(b)];
}

qmgl_bool3 operator||(qmgl_bool3 const& a, qmgl_bool3 const& b) noexcept {
  return or_table[position(a) * 3 + position(b)];
}
