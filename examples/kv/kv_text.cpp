#include "kv_text.h"

#include <wygl/qmgl_env.h>

std::string kv_one_line(char const* message) {
  std::string line;
  std::string part;
  for (char const* p = message;; ++p) {
    if (*p == '\r' || *p == '\n' || *p == '\0') {
      part.erase(0, part.find_first_not_of(' '));
      part.erase(part.find_last_not_of(' ') + 1);
      if (!part.empty()) line += (line.empty() ? "" : "; ") + part;
      part.clear();
      if (*p == '\0') return line;
    } else {
      part += *p;
    }
  }
}

std::string kv_name_not_found(std::string const& service, std::string const& host) {
  char const* const file = qmgl_env_get("WYGL_SERVICES");
  std::string const where =
      std::string("neither in ") +
      (file != nullptr ? std::string("the file that WYGL_SERVICES names (") + file + ")"
                       : std::string("a file named by WYGL_SERVICES (not set)")) +
      " nor in the system's services database";
  bool const numeric_host =
      !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
  if (numeric_host) return "unknown service '" + service + "': it is " + where;
  return "unknown service '" + service + "' or host '" + host + "': the service is " + where +
         ", the host among the system's host names";
}
