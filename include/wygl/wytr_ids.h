// wytr_ids.h - the numbering of wygl's trace records.
//
// Every trace record that wygl writes is named by two 32-bit words:
//
//   kind word        0x06 | kind number | 0x0000      e.g. 0x06200000, a public operation entered
//   tracepoint word  0x14 | class | operation | 0x00  e.g. 0x140D0D00, qmgl_socket::read
//
// and is written only when its level bit is set in the trace library's mask `trcevents`.
// This header is the one place where those numbers are defined. It also carries the names
// of levels, kinds, classes and operations, so that the trace mask can be given by name
// (QMTRC_MASK=exception,operation) and tools that decode trace files (qmtrc_dump) print the
// same vocabulary the library uses.
//
// Example:
//
//   if (wytr_enabled(wytr::level::error_text))
//     ... write a record of kind wytr::kind_word(wytr::kind::error_text)
//         at tracepoint wytr::tp::socket_read ...
//
// Everything here is constexpr data; there is nothing to link.

#ifndef WYGL_WYTR_IDS_H
#define WYGL_WYTR_IDS_H

#include <cstdint>

namespace wytr {

// Level bits of the trace mask. A tracepoint is enabled when (mask & its level bits) != 0.
namespace level {
inline constexpr std::uint32_t error_text = 0x8;
inline constexpr std::uint32_t exception_created = 0x40;
inline constexpr std::uint32_t lifetime = 0x800;
inline constexpr std::uint32_t public_entry = 0x1000;
// Exit records of public operations are written when public_entry or public_exit is set;
// public_exit alone also selects the "left while an exception is current" kind.
inline constexpr std::uint32_t public_exit = 0x2000;
inline constexpr std::uint32_t resource = 0x4000;
inline constexpr std::uint32_t inner_entry = 0x10000;
inline constexpr std::uint32_t inner_exit = 0x20000;
inline constexpr std::uint32_t state_note = 0x40000;
inline constexpr std::uint32_t wait_note = 0x4000000;
}  // namespace level

// Kind numbers: the second byte of a record's kind word.
namespace kind {
inline constexpr std::uint8_t error_text = 0x04;
inline constexpr std::uint8_t exception_created = 0x07;
inline constexpr std::uint8_t public_left_in_exception = 0x0B;
inline constexpr std::uint8_t inner_left_in_exception = 0x0C;
inline constexpr std::uint8_t constructed = 0x1E;
inline constexpr std::uint8_t destroyed = 0x1F;
inline constexpr std::uint8_t public_entered = 0x20;
inline constexpr std::uint8_t public_left = 0x21;
inline constexpr std::uint8_t resource = 0x22;
inline constexpr std::uint8_t inner_entered = 0x2A;
inline constexpr std::uint8_t inner_left = 0x2B;
inline constexpr std::uint8_t state_note = 0x2C;
inline constexpr std::uint8_t wait_note = 0x40;
}  // namespace kind

constexpr std::uint32_t kind_word(std::uint8_t kind_number) {
  return 0x06000000u | (static_cast<std::uint32_t>(kind_number) << 16);
}
constexpr std::uint8_t kind_number(std::uint32_t kind_word) {
  return static_cast<std::uint8_t>((kind_word >> 16) & 0xFFu);
}

// Class numbers: the second byte of a tracepoint word.
namespace class_id {
inline constexpr std::uint8_t exc = 0x01;
inline constexpr std::uint8_t thread = 0x02;
inline constexpr std::uint8_t rpc_input_output = 0x0C;
inline constexpr std::uint8_t socket = 0x0D;
inline constexpr std::uint8_t socket_factory = 0x0E;
inline constexpr std::uint8_t rpc_server_request = 0x17;
inline constexpr std::uint8_t rpc_client = 0x18;
inline constexpr std::uint8_t rpc_client_request = 0x19;
inline constexpr std::uint8_t file = 0x1A;
inline constexpr std::uint8_t output_file = 0x1C;
inline constexpr std::uint8_t value = 0x1F;
inline constexpr std::uint8_t client_id = 0x21;
inline constexpr std::uint8_t task_doer = 0x22;
inline constexpr std::uint8_t timer = 0x23;
}  // namespace class_id

constexpr std::uint32_t tracepoint(std::uint8_t class_number, std::uint8_t operation) {
  return 0x14000000u | (static_cast<std::uint32_t>(class_number) << 16) |
         (static_cast<std::uint32_t>(operation) << 8);
}
constexpr std::uint8_t tracepoint_class(std::uint32_t tracepoint_word) {
  return static_cast<std::uint8_t>((tracepoint_word >> 16) & 0xFFu);
}
constexpr std::uint8_t tracepoint_operation(std::uint32_t tracepoint_word) {
  return static_cast<std::uint8_t>((tracepoint_word >> 8) & 0xFFu);
}

// Tracepoints. Operation number 0 of a class is its lifetime hook.
namespace tp {
inline constexpr std::uint32_t exc_lifetime = tracepoint(class_id::exc, 0x00);
inline constexpr std::uint32_t exc_created = tracepoint(class_id::exc, 0x01);

inline constexpr std::uint32_t thread_lifetime = tracepoint(class_id::thread, 0x00);

inline constexpr std::uint32_t rpc_io_fill_buffer = tracepoint(class_id::rpc_input_output, 0x03);
inline constexpr std::uint32_t rpc_io_reget = tracepoint(class_id::rpc_input_output, 0x07);

inline constexpr std::uint32_t socket_lifetime = tracepoint(class_id::socket, 0x00);
inline constexpr std::uint32_t socket_constructor = tracepoint(class_id::socket, 0x01);
inline constexpr std::uint32_t socket_destructor = tracepoint(class_id::socket, 0x02);
inline constexpr std::uint32_t socket_service_lookup = tracepoint(class_id::socket, 0x03);
inline constexpr std::uint32_t socket_host_lookup = tracepoint(class_id::socket, 0x04);
inline constexpr std::uint32_t socket_close_socket = tracepoint(class_id::socket, 0x0B);
inline constexpr std::uint32_t socket_reconnect = tracepoint(class_id::socket, 0x0C);
inline constexpr std::uint32_t socket_read = tracepoint(class_id::socket, 0x0D);
inline constexpr std::uint32_t socket_write = tracepoint(class_id::socket, 0x0E);

inline constexpr std::uint32_t socket_factory_lifetime = tracepoint(class_id::socket_factory, 0x00);
inline constexpr std::uint32_t socket_factory_constructor =
    tracepoint(class_id::socket_factory, 0x01);
inline constexpr std::uint32_t socket_factory_destructor =
    tracepoint(class_id::socket_factory, 0x02);

inline constexpr std::uint32_t rpc_server_request_destructor =
    tracepoint(class_id::rpc_server_request, 0x02);
inline constexpr std::uint32_t rpc_server_request_consume_request =
    tracepoint(class_id::rpc_server_request, 0x03);
inline constexpr std::uint32_t rpc_server_request_fill_buffer =
    tracepoint(class_id::rpc_server_request, 0x04);
inline constexpr std::uint32_t rpc_server_request_really_flush_buffer =
    tracepoint(class_id::rpc_server_request, 0x05);

inline constexpr std::uint32_t rpc_client_constructor = tracepoint(class_id::rpc_client, 0x01);

// One tracepoint serves the constructor and the destructor of a client request.
inline constexpr std::uint32_t rpc_client_request_lifetime =
    tracepoint(class_id::rpc_client_request, 0x01);
inline constexpr std::uint32_t rpc_client_request_end_of_request =
    tracepoint(class_id::rpc_client_request, 0x03);
inline constexpr std::uint32_t rpc_client_request_fill_buffer =
    tracepoint(class_id::rpc_client_request, 0x04);
inline constexpr std::uint32_t rpc_client_request_really_flush_buffer =
    tracepoint(class_id::rpc_client_request, 0x05);

// The lifetime tracepoint of a file also names its constructors.
inline constexpr std::uint32_t file_lifetime = tracepoint(class_id::file, 0x00);
inline constexpr std::uint32_t file_append = tracepoint(class_id::file, 0x01);
inline constexpr std::uint32_t file_duplicate_handle = tracepoint(class_id::file, 0x04);
inline constexpr std::uint32_t file_flush = tracepoint(class_id::file, 0x06);
inline constexpr std::uint32_t file_read = tracepoint(class_id::file, 0x08);
inline constexpr std::uint32_t file_seek = tracepoint(class_id::file, 0x0B);
inline constexpr std::uint32_t file_truncate = tracepoint(class_id::file, 0x0F);
inline constexpr std::uint32_t file_write = tracepoint(class_id::file, 0x10);

inline constexpr std::uint32_t output_file_lifetime = tracepoint(class_id::output_file, 0x00);
inline constexpr std::uint32_t output_file_std_error = tracepoint(class_id::output_file, 0x04);
inline constexpr std::uint32_t output_file_really_flush_buffer =
    tracepoint(class_id::output_file, 0x06);

inline constexpr std::uint32_t value_as_bool = tracepoint(class_id::value, 0x01);
inline constexpr std::uint32_t value_as_bool3 = tracepoint(class_id::value, 0x02);
inline constexpr std::uint32_t value_as_int = tracepoint(class_id::value, 0x03);
inline constexpr std::uint32_t value_as_charp = tracepoint(class_id::value, 0x04);
inline constexpr std::uint32_t value_as_unicharp = tracepoint(class_id::value, 0x05);
inline constexpr std::uint32_t value_as_binaryp = tracepoint(class_id::value, 0x06);
inline constexpr std::uint32_t value_as_str = tracepoint(class_id::value, 0x07);
inline constexpr std::uint32_t value_as_uni = tracepoint(class_id::value, 0x08);
inline constexpr std::uint32_t value_as_bin = tracepoint(class_id::value, 0x09);
inline constexpr std::uint32_t value_as_bytes = tracepoint(class_id::value, 0x0A);
inline constexpr std::uint32_t value_as_value_array = tracepoint(class_id::value, 0x0B);

inline constexpr std::uint32_t client_id_from_input = tracepoint(class_id::client_id, 0x01);
inline constexpr std::uint32_t client_id_stream_out = tracepoint(class_id::client_id, 0x02);
inline constexpr std::uint32_t client_id_make_new = tracepoint(class_id::client_id, 0x03);

inline constexpr std::uint32_t task_doer_constructor = tracepoint(class_id::task_doer, 0x01);
inline constexpr std::uint32_t task_doer_destructor = tracepoint(class_id::task_doer, 0x02);
inline constexpr std::uint32_t task_doer_add_task = tracepoint(class_id::task_doer, 0x03);
inline constexpr std::uint32_t task_doer_run = tracepoint(class_id::task_doer, 0x04);
inline constexpr std::uint32_t task_doer_suspend = tracepoint(class_id::task_doer, 0x05);
inline constexpr std::uint32_t task_doer_terminate = tracepoint(class_id::task_doer, 0x06);
inline constexpr std::uint32_t task_doer_worker = tracepoint(class_id::task_doer, 0x07);

inline constexpr std::uint32_t timer_constructor = tracepoint(class_id::timer, 0x01);
inline constexpr std::uint32_t timer_destructor = tracepoint(class_id::timer, 0x02);
inline constexpr std::uint32_t timer_terminate = tracepoint(class_id::timer, 0x03);
inline constexpr std::uint32_t timer_add_periodic = tracepoint(class_id::timer, 0x04);
inline constexpr std::uint32_t timer_add_alarm = tracepoint(class_id::timer, 0x05);
inline constexpr std::uint32_t timer_remove = tracepoint(class_id::timer, 0x06);
inline constexpr std::uint32_t timer_thread_body = tracepoint(class_id::timer, 0x07);
inline constexpr std::uint32_t timer_create = tracepoint(class_id::timer, 0x08);
inline constexpr std::uint32_t timer_destroy = tracepoint(class_id::timer, 0x09);
}  // namespace tp

// Names, for decoding.

// The level bits by name, as the trace mask's text form (QMTRC_MASK) and qmtrc_dump --level
// take them; each is named after the records it enables.
struct level_name {
  std::uint32_t bit;
  char const* name;
};
inline constexpr level_name level_names[] = {
    {level::error_text, "error"},             // error texts
    {level::exception_created, "exception"},  // exceptions created
    {level::lifetime, "lifetime"},            // objects constructed and destroyed
    {level::public_entry, "operation"},       // public operations entered and left
    {level::public_exit, "operation-exit"},   // their exits, also without the entries
    {level::resource, "resource"},            // system resource events
    {level::inner_entry, "inner"},            // inner operations entered and left
    {level::inner_exit, "inner-exit"},        // their exits, also without the entries
    {level::state_note, "state"},             // state notes
    {level::wait_note, "wait"},               // wait notes
};

// Each kind with its name and the level bits under which it is written.
struct kind_name {
  std::uint8_t number;
  char const* name;
  std::uint32_t levels;
};
inline constexpr kind_name kind_names[] = {
    {kind::error_text, "error", level::error_text},
    {kind::exception_created, "exception", level::exception_created},
    {kind::public_left_in_exception, "left-in-exception", level::public_exit},
    {kind::inner_left_in_exception, "inner-left-in-exception", level::inner_exit},
    {kind::constructed, "constructed", level::lifetime},
    {kind::destroyed, "destroyed", level::lifetime},
    {kind::public_entered, "entered", level::public_entry},
    {kind::public_left, "left", level::public_entry | level::public_exit},
    {kind::resource, "resource", level::resource},
    {kind::inner_entered, "inner-entered", level::inner_entry},
    {kind::inner_left, "inner-left", level::inner_entry | level::inner_exit},
    {kind::state_note, "state", level::state_note},
    {kind::wait_note, "wait", level::wait_note},
};

struct class_name {
  std::uint8_t number;
  char const* name;
};
inline constexpr class_name class_names[] = {
    {class_id::exc, "exc_t"},
    {class_id::thread, "qmgl_thread"},
    {class_id::rpc_input_output, "qmgl_rpc_input_output"},
    {class_id::socket, "qmgl_socket"},
    {class_id::socket_factory, "qmgl_socket_factory"},
    {class_id::rpc_server_request, "qmgl_rpc_server_request"},
    {class_id::rpc_client, "qmgl_rpc_client"},
    {class_id::rpc_client_request, "qmgl_rpc_client_request"},
    {class_id::file, "qmgl_file"},
    {class_id::output_file, "qmgl_output_file"},
    {class_id::value, "qmgl_value"},
    {class_id::client_id, "qmgl_client_id"},
    {class_id::task_doer, "qmgl_task_doer"},
    {class_id::timer, "qmgl_timer"},
};

struct tracepoint_name {
  std::uint32_t tracepoint;
  char const* operation;
};
inline constexpr tracepoint_name tracepoint_names[] = {
    {tp::exc_lifetime, "lifetime"},
    {tp::exc_created, "created"},
    {tp::thread_lifetime, "lifetime"},
    {tp::rpc_io_fill_buffer, "fill_buffer"},
    {tp::rpc_io_reget, "reget"},
    {tp::socket_lifetime, "lifetime"},
    {tp::socket_constructor, "constructor"},
    {tp::socket_destructor, "destructor"},
    {tp::socket_service_lookup, "service_lookup"},
    {tp::socket_host_lookup, "host_lookup"},
    {tp::socket_close_socket, "close_socket"},
    {tp::socket_reconnect, "reconnect"},
    {tp::socket_read, "read"},
    {tp::socket_write, "write"},
    {tp::socket_factory_lifetime, "lifetime"},
    {tp::socket_factory_constructor, "constructor"},
    {tp::socket_factory_destructor, "destructor"},
    {tp::rpc_server_request_destructor, "destructor"},
    {tp::rpc_server_request_consume_request, "consume_request"},
    {tp::rpc_server_request_fill_buffer, "fill_buffer"},
    {tp::rpc_server_request_really_flush_buffer, "really_flush_buffer"},
    {tp::rpc_client_constructor, "constructor"},
    {tp::rpc_client_request_lifetime, "constructor_destructor"},
    {tp::rpc_client_request_end_of_request, "end_of_request"},
    {tp::rpc_client_request_fill_buffer, "fill_buffer"},
    {tp::rpc_client_request_really_flush_buffer, "really_flush_buffer"},
    {tp::file_lifetime, "lifetime"},
    {tp::file_append, "append"},
    {tp::file_duplicate_handle, "duplicate_handle"},
    {tp::file_flush, "flush"},
    {tp::file_read, "read"},
    {tp::file_seek, "seek"},
    {tp::file_truncate, "truncate"},
    {tp::file_write, "write"},
    {tp::output_file_lifetime, "lifetime"},
    {tp::output_file_std_error, "std_error"},
    {tp::output_file_really_flush_buffer, "really_flush_buffer"},
    {tp::value_as_bool, "as_bool"},
    {tp::value_as_bool3, "as_bool3"},
    {tp::value_as_int, "as_int"},
    {tp::value_as_charp, "as_charp"},
    {tp::value_as_unicharp, "as_unicharp"},
    {tp::value_as_binaryp, "as_binaryp"},
    {tp::value_as_str, "as_str"},
    {tp::value_as_uni, "as_uni"},
    {tp::value_as_bin, "as_bin"},
    {tp::value_as_bytes, "as_bytes"},
    {tp::value_as_value_array, "as_value_array"},
    {tp::client_id_from_input, "from_input"},
    {tp::client_id_stream_out, "stream_out"},
    {tp::client_id_make_new, "make_new"},
    {tp::task_doer_constructor, "constructor"},
    {tp::task_doer_destructor, "destructor"},
    {tp::task_doer_add_task, "add_task"},
    {tp::task_doer_run, "run"},
    {tp::task_doer_suspend, "suspend"},
    {tp::task_doer_terminate, "terminate"},
    {tp::task_doer_worker, "worker"},
    {tp::timer_constructor, "constructor"},
    {tp::timer_destructor, "destructor"},
    {tp::timer_terminate, "terminate"},
    {tp::timer_add_periodic, "add_periodic"},
    {tp::timer_add_alarm, "add_alarm"},
    {tp::timer_remove, "remove"},
    {tp::timer_thread_body, "thread_body"},
    {tp::timer_create, "create"},
    {tp::timer_destroy, "destroy"},
};

// Name lookups; null when the number is not one of the library's.
constexpr char const* name_of_kind(std::uint32_t kind_word) {
  for (auto const& k : kind_names)
    if (kind_word == wytr::kind_word(k.number)) return k.name;
  return nullptr;
}
// The level bits under which records of the kind are written; 0 for a kind not the library's.
constexpr std::uint32_t levels_of_kind(std::uint32_t kind_word) {
  for (auto const& k : kind_names)
    if (kind_word == wytr::kind_word(k.number)) return k.levels;
  return 0;
}
constexpr char const* name_of_class(std::uint32_t tracepoint_word) {
  for (auto const& c : class_names)
    if (c.number == tracepoint_class(tracepoint_word)) return c.name;
  return nullptr;
}
constexpr char const* name_of_operation(std::uint32_t tracepoint_word) {
  for (auto const& t : tracepoint_names)
    if (t.tracepoint == tracepoint_word) return t.operation;
  return nullptr;
}

}  // namespace wytr

#endif  // WYGL_WYTR_IDS_H
