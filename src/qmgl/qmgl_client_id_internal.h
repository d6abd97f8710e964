// The parts of client identities that tests reach directly: making the UUID text from a
// given source, and one step of the connection counter.

#ifndef WYGL_SRC_QMGL_QMGL_CLIENT_ID_INTERNAL_H
#define WYGL_SRC_QMGL_QMGL_CLIENT_ID_INTERNAL_H

#include <cstdint>
#include <string>

#include "os/uuid.h"

namespace wygl::client_id {

// Where new UUID texts come from: os::new_uuid_text in the library.
using uuid_source = std::uint32_t (*)(os::uuid_text& out) noexcept;

// A new UUID text from source, as 16-bit units, with the records and the raising that
// getClientID documents.
std::basic_string<unsigned short> make_uuid(uuid_source source);

// Returns counter and advances it by one; a counter that passes the largest int starts
// again at 1.
int take_connection_number(int& counter) noexcept;

}  // namespace wygl::client_id

#endif  // WYGL_SRC_QMGL_QMGL_CLIENT_ID_INTERNAL_H
