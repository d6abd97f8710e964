#include "os/error_text.h"

#include <algorithm>
#include <array>

#include "os/error_codes.h"

namespace wygl::os {
namespace {

struct error_sentence {
  std::uint32_t code;
  char const* sentence;
};

// The backend's message table: a sentence for every number that it produces, in ascending
// order of the numbers. The texts are plain ASCII, so that they convert to 16-bit units
// byte by byte.
constexpr std::array error_sentences{
    error_sentence{err::success, "The operation succeeded."},
    error_sentence{err::invalid_function, "The function does not apply to this object."},
    error_sentence{err::file_not_found, "The file cannot be found."},
    error_sentence{err::path_not_found, "A folder on the path cannot be found."},
    error_sentence{err::too_many_open_files, "The process has too many files open."},
    error_sentence{err::access_denied, "The caller lacks the permission for this access."},
    error_sentence{err::invalid_handle,
                   "The handle does not refer to an open object of the right kind."},
    error_sentence{err::not_enough_memory, "Memory ran out before the operation could finish."},
    error_sentence{err::not_same_device, "Source and target lie on different devices."},
    error_sentence{err::write_protect, "The storage cannot be written to."},
    error_sentence{err::gen_failure, "The operation failed for a reason the system cannot name."},
    error_sentence{err::sharing_violation,
                   "Another opener of the file holds it in a mode that excludes this access."},
    error_sentence{err::lock_violation,
                   "Another holder has locked the part of the file that this operation needs."},
    error_sentence{err::handle_eof, "The end of the file has been reached."},
    error_sentence{err::not_supported, "The operation is not supported here."},
    error_sentence{err::dev_not_exist, "The device is not present."},
    error_sentence{err::file_exists, "A file of that name is already there."},
    error_sentence{err::invalid_parameter, "One of the arguments has a value that is not valid."},
    error_sentence{err::broken_pipe, "The other end of the pipe has been closed."},
    error_sentence{err::disk_full, "The disk has no space left."},
    error_sentence{err::insufficient_buffer, "The buffer is too small for the data."},
    error_sentence{err::invalid_name, "The name is not well formed."},
    error_sentence{err::negative_seek, "The position would lie before the start of the file."},
    error_sentence{err::seek_on_device, "The position cannot be set on this kind of file."},
    error_sentence{err::dir_not_empty, "The folder still has entries."},
    error_sentence{err::bad_pathname, "The path is not well formed."},
    error_sentence{err::lock_failed, "The region of the file could not be locked."},
    error_sentence{err::busy, "The resource is in use."},
    error_sentence{err::already_exists, "An object of that name is already there."},
    error_sentence{err::filename_exced_range, "The name or the path is too long."},
    error_sentence{err::file_too_large, "The file is larger than this operation allows."},
    error_sentence{err::not_owner, "The caller does not hold the mutex it tries to release."},
    error_sentence{err::operation_aborted, "The operation was cancelled before it finished."},
    error_sentence{err::noaccess, "The operation touched memory that it may not use."},
    error_sentence{err::no_unicode_translation,
                   "A character has no counterpart in the target character set."},
    error_sentence{err::io_device, "The device reported an input or output failure."},
    error_sentence{err::possible_deadlock, "Waiting for this lock would deadlock."},
    error_sentence{err::too_many_links, "The file has too many links."},
    error_sentence{err::timeout, "The time allowed for the operation ran out."},
    error_sentence{err::cant_resolve_filename,
                   "The name cannot be resolved: its links loop or nest too deeply."},

    error_sentence{err::wsaeintr, "A blocking socket call was interrupted."},
    error_sentence{err::wsaebadf, "The file handle passed to the socket call is not valid."},
    error_sentence{err::wsaeacces, "The socket may not be used in the way the call asks."},
    error_sentence{err::wsaefault, "An address passed to the socket call is not valid."},
    error_sentence{err::wsaeinval, "An argument of the socket call is not valid."},
    error_sentence{err::wsaemfile, "Too many sockets are open."},
    error_sentence{err::wsaewouldblock,
                   "The operation on the non-blocking socket cannot finish at once."},
    error_sentence{err::wsaeinprogress, "A blocking socket operation is already running."},
    error_sentence{err::wsaealready, "An operation is already running on the non-blocking socket."},
    error_sentence{err::wsaenotsock, "The handle is not a socket."},
    error_sentence{err::wsaedestaddrreq, "The operation needs a destination address."},
    error_sentence{err::wsaemsgsize, "The message is larger than the socket allows."},
    error_sentence{err::wsaeprototype, "The protocol does not suit the type of the socket."},
    error_sentence{err::wsaenoprotoopt, "The socket option or its level is not supported."},
    error_sentence{err::wsaeprotonosupport, "The protocol is not supported."},
    error_sentence{err::wsaesocktnosupport,
                   "The socket type is not supported in this address family."},
    error_sentence{err::wsaeopnotsupp, "The operation is not supported on this kind of socket."},
    error_sentence{err::wsaepfnosupport, "The protocol family is not supported."},
    error_sentence{err::wsaeafnosupport, "The address family is not supported by the protocol."},
    error_sentence{err::wsaeaddrinuse, "The address is already in use."},
    error_sentence{err::wsaeaddrnotavail, "The address does not belong to this machine."},
    error_sentence{err::wsaenetdown, "The network is down."},
    error_sentence{err::wsaenetunreach, "The network cannot be reached."},
    error_sentence{err::wsaenetreset, "The network failed while the connection was in use."},
    error_sentence{err::wsaeconnaborted, "The connection was given up on this machine."},
    error_sentence{err::wsaeconnreset, "The peer reset the connection."},
    error_sentence{err::wsaenobufs, "No buffer space is left for the socket operation."},
    error_sentence{err::wsaeisconn, "The socket is already connected."},
    error_sentence{err::wsaenotconn, "The socket is not connected."},
    error_sentence{err::wsaeshutdown, "The socket has been shut down in that direction."},
    error_sentence{err::wsaetoomanyrefs, "There are too many references to a kernel object."},
    error_sentence{err::wsaetimedout, "The peer did not answer in time."},
    error_sentence{err::wsaeconnrefused, "Nothing listens at the address: connection refused."},
    error_sentence{err::wsaeloop, "The name cannot be translated: it refers to itself."},
    error_sentence{err::wsaenametoolong, "The name is too long."},
    error_sentence{err::wsaehostdown, "The host is down."},
    error_sentence{err::wsaehostunreach, "There is no route to the host."},
    error_sentence{err::wsaenotempty, "The folder is not empty."},
    error_sentence{err::wsaeproclim, "Too many processes use the socket layer."},
    error_sentence{err::wsaeusers, "The user quota is used up."},
    error_sentence{err::wsaedquot, "The disk quota is used up."},
    error_sentence{err::wsaestale, "The file handle refers to a file that is gone."},
    error_sentence{err::wsaeremote, "The object is remote and cannot be used here."},
    error_sentence{err::wsasysnotready, "The network layer is not ready."},
    error_sentence{err::wsavernotsupported, "The requested socket layer version is not offered."},
    error_sentence{err::wsanotinitialised, "The socket layer has not been started."},
    error_sentence{err::wsaediscon, "The peer is closing the connection in an orderly way."},
    error_sentence{err::wsasyscallfailure, "A system call of the socket layer failed."},
    error_sentence{err::wsaservice_not_found, "The service cannot be found."},
    error_sentence{err::wsatype_not_found, "The service name is not known."},
    error_sentence{err::wsahost_not_found, "The host name is not known."},
    error_sentence{err::wsatry_again,
                   "The name server gave no answer for now; a later try may succeed."},
    error_sentence{err::wsano_recovery,
                   "The name lookup failed in a way that a retry cannot mend."},
    error_sentence{err::wsano_data, "The name is valid but has no address of the requested kind."},
};

static_assert(std::is_sorted(error_sentences.begin(), error_sentences.end(),
                             [](auto const& a, auto const& b) { return a.code < b.code; }));
static_assert(std::adjacent_find(error_sentences.begin(), error_sentences.end(),
                                 [](auto const& a, auto const& b) { return a.code == b.code; }) ==
              error_sentences.end());

}  // namespace

bool system_error_text(std::uint32_t code, std::string& text) {
  text.clear();
  auto const it =
      std::lower_bound(error_sentences.begin(), error_sentences.end(), code,
                       [](error_sentence const& e, std::uint32_t c) { return e.code < c; });
  if (it == error_sentences.end() || it->code != code) return false;
  // Windows texts end in a line end; so do these, so that messages have the same shape on
  // both systems.
  text.assign(it->sentence).append("\r\n");
  return true;
}

std::size_t system_text_to_units(char const* text, unsigned short* units, std::size_t max_units) {
  // The table is ASCII: each byte is one unit.
  std::size_t n = 0;
  for (; n < max_units && text[n] != '\0'; ++n)
    units[n] = static_cast<unsigned char>(text[n]);
  return n;
}

}  // namespace wygl::os
