#include "os/posix/errno_map.h"

#include <cerrno>
#include <cstddef>
#include <span>

#include <netdb.h>

#include "os/error_codes.h"

namespace wygl::os {
namespace {

struct errno_pair {
  int from;
  std::uint32_t to;
};

constexpr errno_pair file_errors[] = {
    {EPERM, err::access_denied},
    {EACCES, err::access_denied},
    {EISDIR, err::access_denied},  // a folder opened as a file is refused access
    {ENOENT, err::file_not_found},
    {ENOTDIR, err::path_not_found},
    {EINTR, err::operation_aborted},
    {ECANCELED, err::operation_aborted},
    {EIO, err::io_device},
    {EBADF, err::invalid_handle},
    {EAGAIN, err::lock_violation},
    {ENOMEM, err::not_enough_memory},
    {EFAULT, err::noaccess},
    {EBUSY, err::busy},
    {EEXIST, err::file_exists},
    {EXDEV, err::not_same_device},
    {ENODEV, err::dev_not_exist},
    {ENXIO, err::dev_not_exist},
    {EINVAL, err::invalid_parameter},
    {ENFILE, err::too_many_open_files},
    {EMFILE, err::too_many_open_files},
    {ETXTBSY, err::sharing_violation},
    {EFBIG, err::file_too_large},
    {EOVERFLOW, err::file_too_large},
    {ENOSPC, err::disk_full},
    {EDQUOT, err::disk_full},
    {ESPIPE, err::seek_on_device},
    {EROFS, err::write_protect},
    {EMLINK, err::too_many_links},
    {EPIPE, err::broken_pipe},
    {EDEADLK, err::possible_deadlock},
    {ENAMETOOLONG, err::filename_exced_range},
    {ENOLCK, err::lock_failed},
    {ENOSYS, err::not_supported},
    {ENOTSUP, err::not_supported},
    {ENOTEMPTY, err::dir_not_empty},
    {ELOOP, err::cant_resolve_filename},
    {EILSEQ, err::no_unicode_translation},
    {ETIMEDOUT, err::timeout},
};

constexpr errno_pair socket_errors[] = {
    {EINTR, err::wsaeintr},
    // A closed or never-opened descriptor is not a socket, as Winsock reports a stale handle.
    {EBADF, err::wsaenotsock},
    {EPERM, err::wsaeacces},
    {EACCES, err::wsaeacces},
    {EFAULT, err::wsaefault},
    {EINVAL, err::wsaeinval},
    {ENFILE, err::wsaemfile},
    {EMFILE, err::wsaemfile},
    {EAGAIN, err::wsaewouldblock},
    {EINPROGRESS, err::wsaewouldblock},
    {EALREADY, err::wsaealready},
    {ENOTSOCK, err::wsaenotsock},
    {EDESTADDRREQ, err::wsaedestaddrreq},
    {EMSGSIZE, err::wsaemsgsize},
    {EPROTOTYPE, err::wsaeprototype},
    {ENOPROTOOPT, err::wsaenoprotoopt},
    {EPROTONOSUPPORT, err::wsaeprotonosupport},
    {ESOCKTNOSUPPORT, err::wsaesocktnosupport},
    {EOPNOTSUPP, err::wsaeopnotsupp},
    {EPFNOSUPPORT, err::wsaepfnosupport},
    {EAFNOSUPPORT, err::wsaeafnosupport},
    {EADDRINUSE, err::wsaeaddrinuse},
    {EADDRNOTAVAIL, err::wsaeaddrnotavail},
    {ENETDOWN, err::wsaenetdown},
    {ENETUNREACH, err::wsaenetunreach},
    {ENETRESET, err::wsaenetreset},
    {ECONNABORTED, err::wsaeconnaborted},
    {ECONNRESET, err::wsaeconnreset},
    {ENOMEM, err::wsaenobufs},
    {ENOBUFS, err::wsaenobufs},
    {EISCONN, err::wsaeisconn},
    {ENOTCONN, err::wsaenotconn},
    {EPIPE, err::wsaeshutdown},
    {ESHUTDOWN, err::wsaeshutdown},
    {ETOOMANYREFS, err::wsaetoomanyrefs},
    {ETIMEDOUT, err::wsaetimedout},
    {ECONNREFUSED, err::wsaeconnrefused},
    {ELOOP, err::wsaeloop},
    {ENAMETOOLONG, err::wsaenametoolong},
    {EHOSTDOWN, err::wsaehostdown},
    {EHOSTUNREACH, err::wsaehostunreach},
    {ENOTEMPTY, err::wsaenotempty},
    {EUSERS, err::wsaeusers},
    {EDQUOT, err::wsaedquot},
    {ESTALE, err::wsaestale},
    {EREMOTE, err::wsaeremote},
};

// Results of getaddrinfo and getnameinfo, as Windows numbers its own EAI_ codes.
constexpr errno_pair addrinfo_errors[] = {
    {EAI_NONAME, err::wsahost_not_found},
#ifdef EAI_NODATA
    {EAI_NODATA, err::wsano_data},
#endif
#ifdef EAI_ADDRFAMILY
    {EAI_ADDRFAMILY, err::wsano_data},
#endif
    {EAI_AGAIN, err::wsatry_again},          {EAI_FAIL, err::wsano_recovery},
    {EAI_SERVICE, err::wsatype_not_found},   {EAI_FAMILY, err::wsaeafnosupport},
    {EAI_SOCKTYPE, err::wsaesocktnosupport}, {EAI_BADFLAGS, err::wsaeinval},
    {EAI_MEMORY, err::not_enough_memory},
};

// Each errno appears once in a table, so that no entry hides behind another.
constexpr bool each_errno_once(std::span<errno_pair const> table) {
  for (std::size_t i = 0; i < table.size(); ++i)
    for (std::size_t j = i + 1; j < table.size(); ++j)
      if (table[i].from == table[j].from) return false;
  return true;
}
static_assert(each_errno_once(file_errors));
static_assert(each_errno_once(socket_errors));
static_assert(each_errno_once(addrinfo_errors));

std::uint32_t look_up(std::span<errno_pair const> table, int from,
                      std::uint32_t otherwise) noexcept {
  if (from == 0) return err::success;
  for (errno_pair const& pair : table)
    if (pair.from == from) return pair.to;
  return otherwise;
}

}  // namespace

std::uint32_t windows_error_from_errno(int errno_value) noexcept {
  return look_up(file_errors, errno_value, err::gen_failure);
}

std::uint32_t socket_error_from_errno(int errno_value) noexcept {
  return look_up(socket_errors, errno_value, err::wsasyscallfailure);
}

std::uint32_t socket_error_from_addrinfo(int result, int errno_value) noexcept {
  if (result == EAI_SYSTEM) return socket_error_from_errno(errno_value);
  return look_up(addrinfo_errors, result, err::wsano_recovery);
}

}  // namespace wygl::os
