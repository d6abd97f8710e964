// The two bits of qmgl_action_indicator, for the constructors of named objects.

#ifndef WYGL_SRC_QMGL_QMGL_ACTION_H
#define WYGL_SRC_QMGL_QMGL_ACTION_H

#include <wygl/qmgl_sync.h>

// Bit 0: create the object (clear: open one that exists).
inline bool qmgl_action_creates(qmgl_action_indicator action) noexcept {
  return (action & 1) != 0;
}

// Bit 1: a create may find the object existing and open it (clear: that is an error).
inline bool qmgl_action_accepts_existing(qmgl_action_indicator action) noexcept {
  return (action & 2) != 0;
}

#endif  // WYGL_SRC_QMGL_QMGL_ACTION_H
