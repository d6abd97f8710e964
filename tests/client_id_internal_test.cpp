// Client identities behind the public API: new UUID texts from the system, making the UUID
// from a source that fails, and the connection counter's wrap.

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "os/uuid.h"
#include "qmgl/qmgl_client_id_internal.h"
#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/uuid_form.h"

namespace {

std::uint32_t status_now = 0;
std::uint32_t failing_uuid(wygl::os::uuid_text& out) noexcept {
  std::strcpy(out.text, "not to be used");
  return status_now;
}

}  // namespace

TEST(ClientIdInternal, NewUuidTextsAreRandomVersion4InTheirTextForm) {
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    wygl::os::uuid_text made;
    ASSERT_EQ(wygl::os::new_uuid_text(made), 0u);
    std::string const text(made.text);
    ASSERT_TRUE(has_uuid_form(text)) << text;
    ASSERT_EQ(text[14], '4') << "version 4: " << text;
    ASSERT_NE(std::strchr("89ab", text[19]), nullptr) << "variant bits 10: " << text;
    ASSERT_TRUE(seen.insert(text).second) << "made twice: " << text;
  }
}

TEST(ClientIdInternal, AFailedUuidIsReportedAndRaisedAsASystemError) {
  // Access denied, which has a system text, and the RPC runtime's "only locally unique".
  for (std::uint32_t status : {5u, 1824u}) {
    for (std::uint32_t mask : {0u, 0x8u | 0x10000u}) {
      status_now = status;
      trace_capture capture(mask);
      raised const r = raise_of([] { wygl::client_id::make_uuid(failing_uuid); });
      EXPECT_EQ(r.type, typeid(exc_unmapped_t));
      EXPECT_EQ(r.code, status);
      EXPECT_STREQ(r.file, "src/qmgl/qmgl_client_id");
      std::string const text = system_text(status);
      EXPECT_EQ(r.message, text.empty() ? "system error " + std::to_string(status) : text);
      std::string const error =
          "Got illegal rc=" + std::to_string(status) + " creating UUID for client ID\n" + text;
      std::vector<captured_record> expected;
      if (mask != 0)
        expected = {plain_record(0x062A0000, 0x14210300, std::uint64_t{0}),
                    text_record(0x06040000, 0x14210300, std::uint64_t{0}, error),
                    text_record(0x06040000, 0x14210300, std::uint64_t{0}, "In catch ERROR\n"),
                    value_record(0x062B0000, 0x14210300, std::uint64_t{0}, 0)};
      EXPECT_EQ(capture.take(), expected);
    }
  }
  EXPECT_FALSE(system_text(5).empty()) << "one status above has a system text to show";
}

TEST(ClientIdInternal, TheConnectionCounterWrapsToOne) {
  int counter = INT_MAX - 1;
  EXPECT_EQ((std::vector<int>{wygl::client_id::take_connection_number(counter),
                              wygl::client_id::take_connection_number(counter),
                              wygl::client_id::take_connection_number(counter), counter}),
            (std::vector<int>{INT_MAX - 1, INT_MAX, 1, 2}));
}
