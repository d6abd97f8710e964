#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <typeinfo>
#include <utility>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "os/error_text.h"
#include "os/last_error.h"
#include "qmgl/qmgl_error_msg.h"
#include "support/raised.h"

namespace {

constexpr char raiser[] = "src/test/raiser";

using units = std::basic_string<unsigned short>;

units units_of(std::string const& ascii) {
  return units(ascii.begin(), ascii.end());
}

// Sets the calling thread's last errors for one test and clears them again afterwards.
class ErrorRaisingInternal : public ::testing::Test {
 protected:
  void TearDown() override {
    wygl::os::set_last_error(0);
    wygl::os::set_last_socket_error(0);
  }
};

}  // namespace

TEST_F(ErrorRaisingInternal, LastErrorFormsRaiseNothingWhileTheLastErrorIsZero) {
  wygl::os::set_last_error(0);
  EXPECT_NO_THROW(exc_t::throw_last_w32_error(raiser, 1));
  wygl::os::set_last_error(0);
  EXPECT_NO_THROW(exc_t::throw_last_w32_error(raiser, 1, "text"));
  wygl::os::set_last_socket_error(0);
  EXPECT_NO_THROW(exc_t::throw_last_tcpip_error(raiser, 1));
}

TEST_F(ErrorRaisingInternal, LastErrorFormsRaiseTheThreadsLastError) {
  std::string const denied = narrow_ascii(error_string(5));
  ASSERT_FALSE(denied.empty());

  raised const plain = raise_of([] {
    wygl::os::set_last_error(5);
    exc_t::throw_last_w32_error(raiser, 51);
  });
  EXPECT_EQ(plain.type, typeid(exc_unmapped_t));
  EXPECT_EQ(plain.code, 5u);
  EXPECT_EQ(plain.line, 51);
  EXPECT_EQ(plain.message, denied);

  raised const with_text = raise_of([] {
    wygl::os::set_last_error(5);
    exc_t::throw_last_w32_error(raiser, 52, "locking the journal");
  });
  EXPECT_EQ(with_text.code, 5u);
  EXPECT_EQ(with_text.message, denied + " ( locking the journal ) ");

  raised const socket = raise_of([] {
    wygl::os::set_last_socket_error(10061);
    exc_t::throw_last_tcpip_error(raiser, 53);
  });
  EXPECT_EQ(socket.type, typeid(exc_unmapped_t));
  EXPECT_EQ(socket.code, 10061u);
  EXPECT_EQ(socket.message, narrow_ascii(error_string(10061)));

  raised const unknown = raise_of([] {
    wygl::os::set_last_error(0xFFFFFFFF);
    exc_t::throw_last_w32_error(raiser, 54, "x");
  });
  EXPECT_EQ(unknown.code, 0xFFFFFFFFu);
  EXPECT_EQ(unknown.message, "system error 4294967295 ( x ) ");
}

TEST_F(ErrorRaisingInternal, LastErrorBelongsToTheThreadThatSetIt) {
  wygl::os::set_last_error(5);
  // What the other thread raises: nothing at first, then its own last error. Shared, so that
  // a thread given up on below still has somewhere to put it.
  auto codes = std::make_shared<std::promise<std::pair<bool, std::uint32_t>>>();
  auto result = codes->get_future();
  std::thread other([codes] {
    bool const raised_at_start = raise_of([] { exc_t::throw_last_w32_error(raiser, 61); }).thrown;
    std::uint32_t const own = raise_of([] {
                                wygl::os::set_last_error(87);
                                exc_t::throw_last_w32_error(raiser, 62);
                              }).code;
    codes->set_value({raised_at_start, own});
  });
  if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    other.detach();
    FAIL() << "the other thread did not finish";
  }
  other.join();
  auto const [raised_at_start, own] = result.get();
  EXPECT_FALSE(raised_at_start) << "a new thread starts with no last error";
  EXPECT_EQ(own, 87u);
}

TEST_F(ErrorRaisingInternal, TextUnitsAreCutAt259) {
  EXPECT_EQ(wygl::error_msg::max_text_units, 259u);
  EXPECT_EQ(wygl::error_msg::text_units("No such file.\r\n"), units_of("No such file.\r\n"));
  EXPECT_EQ(wygl::error_msg::text_units(""), units());

  std::string const long_text(300, 'a');
  EXPECT_EQ(wygl::error_msg::text_units(long_text.c_str()), units(259, u'a'));
  std::string const exactly(259, 'b');
  EXPECT_EQ(wygl::error_msg::text_units(exactly.c_str()), units(259, u'b'));
  std::string const one_short(258, 'c');
  EXPECT_EQ(wygl::error_msg::text_units(one_short.c_str()), units(258, u'c'));
}

TEST_F(ErrorRaisingInternal, SystemTextIsGivenAsTheSystemHasIt) {
  std::string text = "left over";
  ASSERT_TRUE(wygl::os::system_error_text(2, text));
  EXPECT_EQ(units_of(text), error_string(2));
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

  text = "left over";
  EXPECT_FALSE(wygl::os::system_error_text(0xFFFFFFFF, text));
  EXPECT_EQ(text, "");
}
