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
// Families: exceptions (qmgl_exc.h) and trace hooks (wytr.h, wytr_ids.h).

#ifndef WYGL_WYGL_H
#define WYGL_WYGL_H

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/wytr.h>
#include <wygl/wytr_ids.h>

#endif  // WYGL_WYGL_H
