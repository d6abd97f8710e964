// Raising the calling thread's last error, and the cut of long system texts, which only the
// platform seam can set up.

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "os/last_error.h"
#include "qmgl/qmgl_error_msg.h"
#include "support/raised.h"

namespace {

constexpr char raiser[] = "src/test/raiser";

}  // namespace

TEST(ExceptionsInternal, LastErrorFormsRaiseTheCallingThreadsLastErrorUnlessItIsZero) {
  using wygl::os::set_last_error;
  using wygl::os::set_last_socket_error;
  struct {
    void (*set)(std::uint32_t);
    std::uint32_t code;
    void (*raise)();
    std::string message;
  } const cases[] = {
      {set_last_error, 5, [] { exc_t::throw_last_w32_error(raiser, 5); }, system_text(5)},
      {set_last_error, 5, [] { exc_t::throw_last_w32_error(raiser, 5, "locking the journal"); },
       system_text(5) + " ( locking the journal ) "},
      {set_last_socket_error, 10061, [] { exc_t::throw_last_tcpip_error(raiser, 5); },
       system_text(10061)},
      {set_last_error, 0xFFFFFFFF, [] { exc_t::throw_last_w32_error(raiser, 5, "x"); },
       "system error 4294967295 ( x ) "},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.message);
    for (std::uint32_t const code : {std::uint32_t{0}, c.code}) {
      raised const r = raise_of([&] {
        c.set(code);
        c.raise();
      });
      c.set(0);
      EXPECT_EQ(r.thrown, code != 0);
      EXPECT_EQ(r.type, code != 0 ? typeid(exc_unmapped_t) : typeid(void));
      EXPECT_EQ(r.code, code);
      EXPECT_EQ(r.message, code != 0 ? c.message : "");
    }
  }
}

TEST(ExceptionsInternal, LastErrorBelongsToTheThreadThatSetIt) {
  wygl::os::set_last_error(5);
  // Whether the other thread raises at its start, and what after setting its own error. Shared,
  // so that a thread given up on below still has somewhere to put it.
  auto outcome = std::make_shared<std::promise<std::pair<bool, std::uint32_t>>>();
  auto result = outcome->get_future();
  std::thread other([outcome] {
    bool const at_start = raise_of([] { exc_t::throw_last_w32_error(raiser, 6); }).thrown;
    std::uint32_t const own = raise_of([] {
                                wygl::os::set_last_error(87);
                                exc_t::throw_last_w32_error(raiser, 6);
                              }).code;
    outcome->set_value({at_start, own});
  });
  bool const ended = result.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  ended ? other.join() : other.detach();
  wygl::os::set_last_error(0);
  ASSERT_TRUE(ended);
  EXPECT_EQ(result.get(), std::make_pair(false, std::uint32_t{87}));
}

TEST(ExceptionsInternal, SystemTextsAreCutAt259Units) {
  for (std::size_t const length : {0u, 15u, 258u, 259u, 300u}) {
    std::string const text(length, 'a');
    EXPECT_EQ(wygl::error_msg::text_units(text.c_str()),
              std::basic_string<unsigned short>(std::min<std::size_t>(length, 259), u'a'));
  }
}
