// System and socket error numbers in Windows numbering, by name.
//
// The library reports these numbers on every platform: the Windows backend receives them
// from the system, the POSIX backend produces them itself. The names follow the system's own
// (ERROR_FILE_NOT_FOUND is file_not_found, WSAECONNREFUSED is wsaeconnrefused); the Windows
// backend checks every number against the system's headers.

#ifndef WYGL_SRC_OS_ERROR_CODES_H
#define WYGL_SRC_OS_ERROR_CODES_H

#include <cstdint>

namespace wygl::os::err {

inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t invalid_function = 1;
inline constexpr std::uint32_t file_not_found = 2;
inline constexpr std::uint32_t path_not_found = 3;
inline constexpr std::uint32_t too_many_open_files = 4;
inline constexpr std::uint32_t access_denied = 5;
inline constexpr std::uint32_t invalid_handle = 6;
inline constexpr std::uint32_t not_enough_memory = 8;
inline constexpr std::uint32_t not_same_device = 17;
inline constexpr std::uint32_t write_protect = 19;
inline constexpr std::uint32_t gen_failure = 31;
inline constexpr std::uint32_t sharing_violation = 32;
inline constexpr std::uint32_t lock_violation = 33;
inline constexpr std::uint32_t handle_eof = 38;
inline constexpr std::uint32_t not_supported = 50;
inline constexpr std::uint32_t dev_not_exist = 55;
inline constexpr std::uint32_t file_exists = 80;
inline constexpr std::uint32_t invalid_parameter = 87;
inline constexpr std::uint32_t broken_pipe = 109;
inline constexpr std::uint32_t disk_full = 112;
inline constexpr std::uint32_t insufficient_buffer = 122;
inline constexpr std::uint32_t invalid_name = 123;
inline constexpr std::uint32_t negative_seek = 131;
inline constexpr std::uint32_t seek_on_device = 132;
inline constexpr std::uint32_t dir_not_empty = 145;
inline constexpr std::uint32_t bad_pathname = 161;
inline constexpr std::uint32_t lock_failed = 167;
inline constexpr std::uint32_t busy = 170;
inline constexpr std::uint32_t already_exists = 183;
inline constexpr std::uint32_t filename_exced_range = 206;
inline constexpr std::uint32_t file_too_large = 223;
inline constexpr std::uint32_t not_owner = 288;
inline constexpr std::uint32_t operation_aborted = 995;
inline constexpr std::uint32_t noaccess = 998;
inline constexpr std::uint32_t no_unicode_translation = 1113;
inline constexpr std::uint32_t io_device = 1117;
inline constexpr std::uint32_t possible_deadlock = 1131;
inline constexpr std::uint32_t too_many_links = 1142;
inline constexpr std::uint32_t timeout = 1460;
inline constexpr std::uint32_t cant_resolve_filename = 1921;

inline constexpr std::uint32_t wsaeintr = 10004;
inline constexpr std::uint32_t wsaebadf = 10009;
inline constexpr std::uint32_t wsaeacces = 10013;
inline constexpr std::uint32_t wsaefault = 10014;
inline constexpr std::uint32_t wsaeinval = 10022;
inline constexpr std::uint32_t wsaemfile = 10024;
inline constexpr std::uint32_t wsaewouldblock = 10035;
inline constexpr std::uint32_t wsaeinprogress = 10036;
inline constexpr std::uint32_t wsaealready = 10037;
inline constexpr std::uint32_t wsaenotsock = 10038;
inline constexpr std::uint32_t wsaedestaddrreq = 10039;
inline constexpr std::uint32_t wsaemsgsize = 10040;
inline constexpr std::uint32_t wsaeprototype = 10041;
inline constexpr std::uint32_t wsaenoprotoopt = 10042;
inline constexpr std::uint32_t wsaeprotonosupport = 10043;
inline constexpr std::uint32_t wsaesocktnosupport = 10044;
inline constexpr std::uint32_t wsaeopnotsupp = 10045;
inline constexpr std::uint32_t wsaepfnosupport = 10046;
inline constexpr std::uint32_t wsaeafnosupport = 10047;
inline constexpr std::uint32_t wsaeaddrinuse = 10048;
inline constexpr std::uint32_t wsaeaddrnotavail = 10049;
inline constexpr std::uint32_t wsaenetdown = 10050;
inline constexpr std::uint32_t wsaenetunreach = 10051;
inline constexpr std::uint32_t wsaenetreset = 10052;
inline constexpr std::uint32_t wsaeconnaborted = 10053;
inline constexpr std::uint32_t wsaeconnreset = 10054;
inline constexpr std::uint32_t wsaenobufs = 10055;
inline constexpr std::uint32_t wsaeisconn = 10056;
inline constexpr std::uint32_t wsaenotconn = 10057;
inline constexpr std::uint32_t wsaeshutdown = 10058;
inline constexpr std::uint32_t wsaetoomanyrefs = 10059;
inline constexpr std::uint32_t wsaetimedout = 10060;
inline constexpr std::uint32_t wsaeconnrefused = 10061;
inline constexpr std::uint32_t wsaeloop = 10062;
inline constexpr std::uint32_t wsaenametoolong = 10063;
inline constexpr std::uint32_t wsaehostdown = 10064;
inline constexpr std::uint32_t wsaehostunreach = 10065;
inline constexpr std::uint32_t wsaenotempty = 10066;
inline constexpr std::uint32_t wsaeproclim = 10067;
inline constexpr std::uint32_t wsaeusers = 10068;
inline constexpr std::uint32_t wsaedquot = 10069;
inline constexpr std::uint32_t wsaestale = 10070;
inline constexpr std::uint32_t wsaeremote = 10071;
inline constexpr std::uint32_t wsasysnotready = 10091;
inline constexpr std::uint32_t wsavernotsupported = 10092;
inline constexpr std::uint32_t wsanotinitialised = 10093;
inline constexpr std::uint32_t wsaediscon = 10101;
inline constexpr std::uint32_t wsasyscallfailure = 10107;
inline constexpr std::uint32_t wsaservice_not_found = 10108;
inline constexpr std::uint32_t wsatype_not_found = 10109;
inline constexpr std::uint32_t wsahost_not_found = 11001;
inline constexpr std::uint32_t wsatry_again = 11002;
inline constexpr std::uint32_t wsano_recovery = 11003;
inline constexpr std::uint32_t wsano_data = 11004;

}  // namespace wygl::os::err

#endif  // WYGL_SRC_OS_ERROR_CODES_H
