// wygl.h - the whole public API of wygl in one include.
//
//   #include <wygl/wygl.h>
//
//   try {
//     ...
//   } catch (exc_t const& e) {
//     // e.code, e.file, e.line, e.message
//   }
//
// Families: exceptions (qmgl_exc.h), trace hooks (wytr.h, wytr_ids.h), reference-counted
// strings (qmgl_ntarray.h), narrow/wide conversion (qmgl_iconv.h), the interlocked counter
// (qmgl_sync.h).

#ifndef WYGL_WYGL_H
#define WYGL_WYGL_H

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_sync.h>
#include <wygl/wytr.h>
#include <wygl/wytr_ids.h>

#endif  // WYGL_WYGL_H
