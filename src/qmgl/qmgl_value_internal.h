// What the value text reader needs beyond the public interface of qmgl_value.
//
// The reader alone makes the end-of-input and end-of-line markers. Both are shared bodies,
// like NULL: making, copying and dropping them allocates nothing, and they are never freed.
// To discard a value's old content, assign it NULL (v = qmgl_value()), which releases the old
// body and cannot fail; to add an element read into an array value, call
// v._body->append_value(element).

#ifndef WYGL_SRC_QMGL_QMGL_VALUE_INTERNAL_H
#define WYGL_SRC_QMGL_QMGL_VALUE_INTERNAL_H

#include <wygl/qmgl_value.h>

// An EOI value (type code 1).
qmgl_value qmgl_value_eoi() noexcept;
// An EOL value (type code 2).
qmgl_value qmgl_value_eol() noexcept;

#endif  // WYGL_SRC_QMGL_QMGL_VALUE_INTERNAL_H
