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
// Families: exceptions (qmgl_exc.h), trace hooks (wytr.h, wytr_ids.h) and the three-valued
// boolean (qmgl_bool3.h).

#ifndef WYGL_WYGL_H
#define WYGL_WYGL_H

#include <wygl/qmgl_bool3.h>
#include <wygl/qmgl_exc.h>
#include <wygl/wytr.h>
#include <wygl/wytr_ids.h>

#endif  // WYGL_WYGL_H
