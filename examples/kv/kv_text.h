// Texts that the service's programs show their users.

#ifndef WYGL_KV_TEXT_H
#define WYGL_KV_TEXT_H

#include <string>

// A message on one line: the lines of message (the system's and the value reader's texts
// hold line ends) joined by "; ", without empty ones: "\r\nillegal input\r\nbefore: <x>\r\n"
// becomes "illegal input; before: <x>".
std::string kv_one_line(char const* message);

// Why a service name or host name could not be found (WSANO_DATA or WSAHOST_NOT_FOUND from
// the lookup): the service, where it was looked for, and the host unless it is an IPv4
// address, which needs no lookup.
std::string kv_name_not_found(std::string const& service, std::string const& host);

#endif  // WYGL_KV_TEXT_H
