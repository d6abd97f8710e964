// main() of a test program that starts itself again as a helper process (child_process.h).

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"

namespace {

std::map<std::string, child_role_body>& roles() {
  static std::map<std::string, child_role_body> registered;
  return registered;
}

constexpr char child_switch[] = "--wygl-child";

}  // namespace

child_role::child_role(char const* name, child_role_body body) {
  roles()[name] = body;
}

std::string unique_object_name(std::string const& what) {
  static std::mt19937_64 pick(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  static constexpr char hex_digits[] = "0123456789abcdef";
  std::string random_part;
  std::uint64_t bits = pick();
  for (int i = 0; i < 16; ++i, bits >>= 4)
    random_part += hex_digits[bits & 0xF];
  return "wygl-test-" + std::to_string(current_process_id()) + "-" + random_part + "-" + what;
}

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], child_switch) == 0) {
    auto const role = roles().find(argv[2]);
    if (role == roles().end()) return 125;
    return role->second(std::vector<std::string>(argv + 3, argv + argc));
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
