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
// strings (qmgl_ntarray.h), narrow/wide conversion (qmgl_iconv.h), the interlocked counter,
// locks and signals (qmgl_sync.h), shared memory (qmgl_mem.h), threads (qmgl_thread.h), the
// task doer (qmgl_task_doer.h), the timer (qmgl_timer.h), the three-valued boolean
// (qmgl_bool3.h), small containers and helpers (qmgl_ban.h, qmgl_local.h, qmgl_bitstr.h,
// qmgl_hex.h, qmgl_env.h, qmgl_sleep.h), files (qmgl_file.h) and the streams over them
// (qmgl_file_stream.h).

#ifndef WYGL_WYGL_H
#define WYGL_WYGL_H

#include <wygl/qmgl_ban.h>
#include <wygl/qmgl_bitstr.h>
#include <wygl/qmgl_bool3.h>
#include <wygl/qmgl_client_id.h>
#include <wygl/qmgl_env.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_hex.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_local.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_sleep.h>
#include <wygl/qmgl_small_blocks.h>
#include <wygl/qmgl_socket.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_task_doer.h>
#include <wygl/qmgl_thread.h>
#include <wygl/qmgl_timer.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wytr.h>
#include <wygl/wytr_ids.h>

#endif  // WYGL_WYGL_H
