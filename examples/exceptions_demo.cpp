// A host program that raises and catches exceptions of several families.
//
// Run it with tracing on to see what the library records:
//   QMTRC_MASK=lifetime,exception QMTRC_FILE=demo.trc ./exceptions_demo && qmtrc_dump demo.trc

#include <cstdio>

#include <wygl/wygl.h>

namespace {

constexpr char source_file[] = "examples/exceptions_demo";

void poll_device(int attempts) {
  if (attempts > 2) throw exc_timeout_t(source_file, __LINE__, "exc_timeout");
}

void open_account(char const* name) {
  if (name[0] == '\0') throw exc_invalid_name_t(source_file, __LINE__, "exc_invalid_name");
  throw exc_does_not_exist_t(source_file, __LINE__, "exc_does_not_exist");
}

void report(char const* family, exc_t const& e) {
  std::printf("caught as %-6s code 0x%08lx  %s (raised at %s:%d)\n", family, e.code, e.message,
              e.file, e.line);
}

}  // namespace

int main() {
  try {
    poll_device(3);
  } catch (exc_timing_t const& e) {
    report("timing", e);
  }

  try {
    open_account("");
  } catch (exc_logic_t const& e) {
    report("logic", e);
  }

  try {
    open_account("alice");
  } catch (exc_maybe_t const& e) {
    report("maybe", e);
  }

  try {
    throw exc_unmapped_t(source_file, __LINE__, "a system error without a class", 10061);
  } catch (exc_t const& e) {
    report("any", e);
  }
  return 0;
}
