#include "os/error_text.h"

#include <cstdlib>
#include <cwchar>

#include "os/error_codes.h"
#include "os/win32/windows_api.h"

namespace wygl::os {
namespace {

static_assert(sizeof(wchar_t) == sizeof(unsigned short), "Windows wide characters are 16-bit");

// The numbers the POSIX backend produces are the ones this system reports.
static_assert(err::success == ERROR_SUCCESS);
static_assert(err::invalid_function == ERROR_INVALID_FUNCTION);
static_assert(err::file_not_found == ERROR_FILE_NOT_FOUND);
static_assert(err::path_not_found == ERROR_PATH_NOT_FOUND);
static_assert(err::too_many_open_files == ERROR_TOO_MANY_OPEN_FILES);
static_assert(err::access_denied == ERROR_ACCESS_DENIED);
static_assert(err::invalid_handle == ERROR_INVALID_HANDLE);
static_assert(err::not_enough_memory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(err::not_same_device == ERROR_NOT_SAME_DEVICE);
static_assert(err::write_protect == ERROR_WRITE_PROTECT);
static_assert(err::gen_failure == ERROR_GEN_FAILURE);
static_assert(err::sharing_violation == ERROR_SHARING_VIOLATION);
static_assert(err::lock_violation == ERROR_LOCK_VIOLATION);
static_assert(err::handle_eof == ERROR_HANDLE_EOF);
static_assert(err::not_supported == ERROR_NOT_SUPPORTED);
static_assert(err::dev_not_exist == ERROR_DEV_NOT_EXIST);
static_assert(err::file_exists == ERROR_FILE_EXISTS);
static_assert(err::invalid_parameter == ERROR_INVALID_PARAMETER);
static_assert(err::broken_pipe == ERROR_BROKEN_PIPE);
static_assert(err::disk_full == ERROR_DISK_FULL);
static_assert(err::insufficient_buffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(err::invalid_name == ERROR_INVALID_NAME);
static_assert(err::negative_seek == ERROR_NEGATIVE_SEEK);
static_assert(err::seek_on_device == ERROR_SEEK_ON_DEVICE);
static_assert(err::dir_not_empty == ERROR_DIR_NOT_EMPTY);
static_assert(err::bad_pathname == ERROR_BAD_PATHNAME);
static_assert(err::lock_failed == ERROR_LOCK_FAILED);
static_assert(err::busy == ERROR_BUSY);
static_assert(err::already_exists == ERROR_ALREADY_EXISTS);
static_assert(err::filename_exced_range == ERROR_FILENAME_EXCED_RANGE);
static_assert(err::file_too_large == ERROR_FILE_TOO_LARGE);
static_assert(err::not_owner == ERROR_NOT_OWNER);
static_assert(err::operation_aborted == ERROR_OPERATION_ABORTED);
static_assert(err::noaccess == ERROR_NOACCESS);
static_assert(err::no_unicode_translation == ERROR_NO_UNICODE_TRANSLATION);
static_assert(err::io_device == ERROR_IO_DEVICE);
static_assert(err::possible_deadlock == ERROR_POSSIBLE_DEADLOCK);
static_assert(err::too_many_links == ERROR_TOO_MANY_LINKS);
static_assert(err::timeout == ERROR_TIMEOUT);
static_assert(err::cant_resolve_filename == ERROR_CANT_RESOLVE_FILENAME);
static_assert(err::wsaeintr == WSAEINTR);
static_assert(err::wsaebadf == WSAEBADF);
static_assert(err::wsaeacces == WSAEACCES);
static_assert(err::wsaefault == WSAEFAULT);
static_assert(err::wsaeinval == WSAEINVAL);
static_assert(err::wsaemfile == WSAEMFILE);
static_assert(err::wsaewouldblock == WSAEWOULDBLOCK);
static_assert(err::wsaeinprogress == WSAEINPROGRESS);
static_assert(err::wsaealready == WSAEALREADY);
static_assert(err::wsaenotsock == WSAENOTSOCK);
static_assert(err::wsaedestaddrreq == WSAEDESTADDRREQ);
static_assert(err::wsaemsgsize == WSAEMSGSIZE);
static_assert(err::wsaeprototype == WSAEPROTOTYPE);
static_assert(err::wsaenoprotoopt == WSAENOPROTOOPT);
static_assert(err::wsaeprotonosupport == WSAEPROTONOSUPPORT);
static_assert(err::wsaesocktnosupport == WSAESOCKTNOSUPPORT);
static_assert(err::wsaeopnotsupp == WSAEOPNOTSUPP);
static_assert(err::wsaepfnosupport == WSAEPFNOSUPPORT);
static_assert(err::wsaeafnosupport == WSAEAFNOSUPPORT);
static_assert(err::wsaeaddrinuse == WSAEADDRINUSE);
static_assert(err::wsaeaddrnotavail == WSAEADDRNOTAVAIL);
static_assert(err::wsaenetdown == WSAENETDOWN);
static_assert(err::wsaenetunreach == WSAENETUNREACH);
static_assert(err::wsaenetreset == WSAENETRESET);
static_assert(err::wsaeconnaborted == WSAECONNABORTED);
static_assert(err::wsaeconnreset == WSAECONNRESET);
static_assert(err::wsaenobufs == WSAENOBUFS);
static_assert(err::wsaeisconn == WSAEISCONN);
static_assert(err::wsaenotconn == WSAENOTCONN);
static_assert(err::wsaeshutdown == WSAESHUTDOWN);
static_assert(err::wsaetoomanyrefs == WSAETOOMANYREFS);
static_assert(err::wsaetimedout == WSAETIMEDOUT);
static_assert(err::wsaeconnrefused == WSAECONNREFUSED);
static_assert(err::wsaeloop == WSAELOOP);
static_assert(err::wsaenametoolong == WSAENAMETOOLONG);
static_assert(err::wsaehostdown == WSAEHOSTDOWN);
static_assert(err::wsaehostunreach == WSAEHOSTUNREACH);
static_assert(err::wsaenotempty == WSAENOTEMPTY);
static_assert(err::wsaeproclim == WSAEPROCLIM);
static_assert(err::wsaeusers == WSAEUSERS);
static_assert(err::wsaedquot == WSAEDQUOT);
static_assert(err::wsaestale == WSAESTALE);
static_assert(err::wsaeremote == WSAEREMOTE);
static_assert(err::wsasysnotready == WSASYSNOTREADY);
static_assert(err::wsavernotsupported == WSAVERNOTSUPPORTED);
static_assert(err::wsanotinitialised == WSANOTINITIALISED);
static_assert(err::wsaediscon == WSAEDISCON);
static_assert(err::wsasyscallfailure == WSASYSCALLFAILURE);
static_assert(err::wsaservice_not_found == WSASERVICE_NOT_FOUND);
static_assert(err::wsatype_not_found == WSATYPE_NOT_FOUND);
static_assert(err::wsahost_not_found == WSAHOST_NOT_FOUND);
static_assert(err::wsatry_again == WSATRY_AGAIN);
static_assert(err::wsano_recovery == WSANO_RECOVERY);
static_assert(err::wsano_data == WSANO_DATA);

// The system allocates the text; this frees it also when copying it out fails.
struct local_text {
  char* text = nullptr;
  ~local_text() {
    if (text != nullptr) LocalFree(text);
  }
};

}  // namespace

bool system_error_text(std::uint32_t code, std::string& text) {
  text.clear();
  local_text buffer;
  DWORD const flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
  static_assert(flags == 0x1100);
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the address of the
  // system's allocation.
  DWORD const length =
      FormatMessageA(flags, nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer.text), 0, nullptr);
  if (length == 0 || buffer.text == nullptr) return false;
  text.assign(buffer.text, length);
  return true;
}

std::size_t system_text_to_units(char const* text, unsigned short* units, std::size_t max_units) {
  // mbstowcs converts from the code page of the runtime's current locale. The buffer starts
  // all zero, so that what was converted before a character that cannot be converted is
  // still found when the runtime reports the failure.
  std::wstring wide(max_units, L'\0');
  std::mbstowcs(wide.data(), text, max_units);
  std::size_t n = 0;
  while (n < max_units && wide[n] != L'\0') {
    units[n] = static_cast<unsigned short>(wide[n]);
    ++n;
  }
  return n;
}

}  // namespace wygl::os
