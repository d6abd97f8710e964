// Named loopback ports for socket tests: a temporary services file that the library reads.
//
//   loopback_services services;                  // WYGL_SERVICES names an empty file
//   std::string const echo = services.add("echo");   // "echo-1", a free port of 127.0.0.1
//   qmgl_socket_factory listener(echo.c_str(), qmgl_socket_factory::tcp);
//   qmgl_socket client(echo.c_str(), "127.0.0.1");
//
// The file has the services(5) layout ("name port/tcp"). While the object lives, the
// environment variable WYGL_SERVICES names it, for this process and for the programs it
// starts; the destructor restores the variable's previous state and removes the file. A port
// is free when it is added; nothing holds it until a listener binds it, so a name that no
// listener took stands for a port where connections are refused.
//
// One object at a time per process: the variable is process-wide.

#ifndef WYGL_TESTS_SUPPORT_LOOPBACK_SERVICES_H
#define WYGL_TESTS_SUPPORT_LOOPBACK_SERVICES_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

class loopback_services {
 public:
  loopback_services();
  ~loopback_services();
  loopback_services(loopback_services const&) = delete;
  loopback_services& operator=(loopback_services const&) = delete;

  // Names a free loopback port. The name is base_name, a dash and the number of names added
  // so far ("echo-1"), so that adding the same base twice gives two services.
  std::string add(std::string const& base_name);
  // Names the given port, the same way.
  std::string add(std::string const& base_name, unsigned short port);

  // The port of a name that add returned; throws std::out_of_range for any other name.
  unsigned short port(std::string const& name) const;
  // The path of the services file.
  std::string const& file() const { return file_; }

 private:
  void write_file() const;

  temp_dir dir_;
  std::string file_;
  std::optional<std::string> previous_;
  std::vector<std::pair<std::string, unsigned short>> services_;
};

#endif  // WYGL_TESTS_SUPPORT_LOOPBACK_SERVICES_H
