#include "support/loopback_services.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "support/loopback_host.h"

namespace {

constexpr char services_variable[] = "WYGL_SERVICES";

std::optional<std::string> environment_value(char const* name) {
  char const* const value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace

loopback_services::loopback_services()
    : file_(dir_.file("services")), previous_(environment_value(services_variable)) {
  write_file();
  set_environment_value(services_variable, file_.c_str());
}

loopback_services::~loopback_services() {
  set_environment_value(services_variable, previous_ ? previous_->c_str() : nullptr);
}

std::string loopback_services::add(std::string const& base_name) {
  return add(base_name, free_loopback_port());
}

std::string loopback_services::add(std::string const& base_name, unsigned short port) {
  std::string name = base_name + "-" + std::to_string(services_.size() + 1);
  services_.emplace_back(name, port);
  write_file();
  return name;
}

unsigned short loopback_services::port(std::string const& name) const {
  for (auto const& [named, port] : services_)
    if (named == name) return port;
  throw std::out_of_range("no service " + name);
}

void loopback_services::write_file() const {
  std::ofstream out(file_, std::ios::binary | std::ios::trunc);
  out << "# services of the running test\n";
  for (auto const& [name, port] : services_)
    out << name << ' ' << port << "/tcp\n";
  if (!out.flush()) throw std::runtime_error("cannot write " + file_);
}
