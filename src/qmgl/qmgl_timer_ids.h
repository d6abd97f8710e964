// Identifiers of timer registrations: unique among the registrations present.
//
// They count up from 1. Should they run through the whole range (2^31 - 1 registrations in a
// process's life), they start at 1 again and from then on skip the identifiers still in use,
// so that only then does a registration cost a search of the registrations.

#ifndef WYGL_SRC_QMGL_QMGL_TIMER_IDS_H
#define WYGL_SRC_QMGL_QMGL_TIMER_IDS_H

namespace wygl::timer_ids {

// The same on every platform, also where long is 32 bits wide.
inline constexpr long last_id = 0x7FFFFFFF;

// The identifier to hand out after `last`, noting in `wrapped` that the range has been run
// through; in_use(id) tells whether a registration present holds id.
template <class InUse>
long next(long& last, bool& wrapped, InUse in_use) {
  for (;;) {
    if (last >= last_id) {
      last = 0;
      wrapped = true;
    }
    ++last;
    if (!wrapped || !in_use(last)) return last;
  }
}

}  // namespace wygl::timer_ids

#endif  // WYGL_SRC_QMGL_QMGL_TIMER_IDS_H
