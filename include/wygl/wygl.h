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
// Families and their headers:
//   exceptions and their raising and printing   qmgl_exc.h
//   trace hooks and the trace numbering         wytr.h, wytr_ids.h (the trace library: qmtrc.h)
//   reference-counted strings                   qmgl_ntarray.h
//   narrow/wide conversion                      qmgl_iconv.h
//   three-valued boolean                        qmgl_bool3.h
//   small containers and helpers                qmgl_ban.h, qmgl_local.h, qmgl_bitstr.h,
//                                               qmgl_hex.h, qmgl_env.h, qmgl_sleep.h
//   atomic counter, locks, signals, monitors    qmgl_sync.h
//   output and input streams                    qmgl_output.h, qmgl_input.h
//   streams over files and standard handles     qmgl_file_stream.h
//   values, value arrays, byte strings          qmgl_value.h, qmgl_value_array.h,
//                                               qmgl_refcounted_vector.h
//   the value text reader                       qmgl_value_reader.h
//   files                                       qmgl_file.h
//   shared memory                               qmgl_mem.h
//   threads, the task doer, the timer           qmgl_thread.h, qmgl_task_doer.h, qmgl_timer.h
//   client identity                             qmgl_client_id.h
//   sockets                                     qmgl_socket.h
//   RPC client and server                       qmgl_rpc.h
//   the library's version                       wygl_version.h
//
// The headers need C++20.

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
#include <wygl/qmgl_hex.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_local.h>
#include <wygl/qmgl_mem.h>
#include <wygl/qmgl_ntarray.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_refcounted_vector.h>
#include <wygl/qmgl_rpc.h>
#include <wygl/qmgl_sleep.h>
#include <wygl/qmgl_socket.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_task_doer.h>
#include <wygl/qmgl_thread.h>
#include <wygl/qmgl_timer.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_array.h>
#include <wygl/qmgl_value_reader.h>
#include <wygl/wygl_version.h>
#include <wygl/wytr.h>
#include <wygl/wytr_ids.h>

#endif  // WYGL_WYGL_H
