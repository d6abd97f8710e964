#include "os/posix/file_path.h"

#include <cctype>
#include <cerrno>
#include <new>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"

namespace wygl::os::posix {
namespace {

bool is_null_device_name(char const* name) noexcept {
  char const* const forms[] = {"nul", "nul:"};
  for (char const* form : forms) {
    std::size_t i = 0;
    while (form[i] != '\0' && std::tolower(static_cast<unsigned char>(name[i])) == form[i])
      ++i;
    if (form[i] == '\0' && name[i] == '\0') return true;
  }
  return false;
}

// The folder that would hold path: what comes before its last component.
std::string folder_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/')
    path.remove_suffix(1);
  std::size_t const slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

bool is_folder(char const* path) noexcept {
  struct stat status {};
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool read_current_folder(std::string& folder) {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      set_last_error(windows_error_from_errno(errno));
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
  folder = buffer.data();
  return true;
}

}  // namespace

char const* host_path(char const* name) noexcept {
  return is_null_device_name(name) ? "/dev/null" : name;
}

std::uint32_t error_for_path(int errno_value, char const* path) noexcept {
  if (errno_value != ENOENT) return windows_error_from_errno(errno_value);
  if (*path == '\0') return err::path_not_found;
  try {
    return is_folder(folder_of(path).c_str()) ? err::file_not_found : err::path_not_found;
  } catch (std::bad_alloc const&) {
    return err::file_not_found;
  }
}

bool lexical_full_path(char const* path, std::string& full) {
  std::string joined;
  if (*path != '/') {
    if (!read_current_folder(joined)) return false;
    joined += '/';
  }
  joined += path;

  std::vector<std::string_view> components;
  std::string_view rest(joined);
  while (!rest.empty()) {
    std::size_t const slash = rest.find('/');
    std::string_view const component = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(component);
  }

  full.clear();
  for (std::string_view component : components)
    full.append(1, '/').append(component);
  // The root alone, or a name that ended in a separator, ends in one.
  if (full.empty() || joined.back() == '/') full.push_back('/');
  return true;
}

}  // namespace wygl::os::posix
