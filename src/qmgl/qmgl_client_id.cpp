#include <wygl/qmgl_client_id.h>

#include <new>

#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

#include "os/uuid.h"
#include "qmgl/qmgl_client_id_internal.h"
#include "qmgl/qmgl_error_note.h"
#include "wytr/wytr_record.h"
#include "wytr/wytr_scope.h"

namespace {

constexpr char source_file[] = "src/qmgl/qmgl_client_id";

// The status that stream_out returns when writing failed.
constexpr int stream_out_failed = 0x206E0001;

// The error text of a caught exception. Written without an object: the identity that was
// being read is not made yet, and the class's other records name none either.
void report_caught(std::uint32_t tracepoint) noexcept {
  if (wytr_enabled(wytr::level::error_text))
    wytr::write_text(wytr::kind_word(wytr::kind::error_text), tracepoint, nullptr,
                     "In catch ERROR\n");
}

// A copy of a 0-terminated wide text; memory running out is reported the library's way.
std::basic_string<unsigned short> wide_copy(unsigned short const* text) {
  try {
    return std::basic_string<unsigned short>(text);
  } catch (std::bad_alloc const&) {
    throw exc_not_enough_memory_t(source_file, __LINE__, "not enough memory");
  }
}

struct connection_counter {
  qmgl_guard guard;
  int next = 1;
};

}  // namespace

namespace wygl::client_id {

std::basic_string<unsigned short> make_uuid(uuid_source source) {
  wytr::operation_scope const scope(wytr::tp::client_id_make_new, wytr::depth::inner_operation);
  try {
    os::uuid_text made;
    std::uint32_t const status = source(made);
    if (status != 0) {
      note_system_error(scope, "Got illegal rc=%d creating UUID for client ID\n%S", status);
      exc_t::throw_w32_error(source_file, __LINE__, status);
    }
    qmgl_ntarray_of<unsigned short, 0> const wide =
        qmgl_str_to_qmgl_uni(qmgl_ntarray_of<char, 0>(made.text));
    return wide_copy(wide);
  } catch (...) {
    scope.note(wytr::level::error_text, wytr::kind::error_text, "In catch ERROR\n");
    throw;
  }
}

int take_connection_number(int& counter) noexcept {
  int const number = counter;
  counter = static_cast<int>(static_cast<unsigned>(counter) + 1u);
  if (counter < 1) counter = 1;
  return number;
}

}  // namespace wygl::client_id

qmgl_client_id::qmgl_client_id(std::basic_string<unsigned short> const& uuid, int connection_id)
    : _uuid(uuid), _connection_id(connection_id) {}

qmgl_client_id::qmgl_client_id(qmgl_input& in) : _connection_id(0) {
  try {
    qmgl_value value;
    in >> value;
    _uuid = wide_copy(value.as_unicharp());
    in >> value;
    _connection_id = value.as_int();
  } catch (...) {
    report_caught(wytr::tp::client_id_from_input);
    throw;
  }
}

int qmgl_client_id::stream_out(qmgl_output& out) const {
  try {
    qmgl_value(_uuid.c_str()).stream_out(out);
    out << _connection_id;
    return 0;
  } catch (...) {
    report_caught(wytr::tp::client_id_stream_out);
    return stream_out_failed;
  }
}

bool qmgl_client_id::operator==(qmgl_client_id const& other) const {
  return _connection_id == other._connection_id && _uuid == other._uuid;
}

bool qmgl_client_id::operator<(qmgl_client_id const& other) const {
  int const by_uuid = _uuid.compare(other._uuid);
  if (by_uuid != 0) return by_uuid < 0;
  return _connection_id < other._connection_id;
}

qmgl_client_id const& qmgl_client_id::getClientID() {
  static qmgl_client_id const identity(wygl::client_id::make_uuid(wygl::os::new_uuid_text), 0);
  return identity;
}

int qmgl_client_id::getConnectionID() {
  static connection_counter counter;
  counter.guard.enterCriticalRegion();
  int const number = wygl::client_id::take_connection_number(counter.next);
  counter.guard.leaveCriticalRegion();
  return number;
}
