// Client identities behind the public API: new UUID texts from the system, making the UUID
// from a source that fails, and the connection counter's wrap.

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <typeindex>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>

#include "os/uuid.h"
#include "qmgl/qmgl_client_id_internal.h"
#include "support/raised.h"
#include "support/trace_capture.h"
#include "support/uuid_form.h"

namespace {

constexpr std::uint32_t make_new_tp = 0x14210300;
constexpr std::uint32_t error_access_denied = 5;
constexpr std::uint32_t rpc_s_uuid_local_only = 1824;

std::uint32_t fixed_uuid(wygl::os::uuid_text& out) noexcept {
  std::strcpy(out.text, "00112233-4455-4677-8899-aabbccddeeff");
  return 0;
}

std::uint32_t status_now = 0;
std::uint32_t failing_uuid(wygl::os::uuid_text& out) noexcept {
  std::strcpy(out.text, "not to be used");
  return status_now;
}

std::vector<captured_record> expected_failure_records(std::uint32_t status) {
  std::string const text = "Got illegal rc=" + std::to_string(status) +
                           " creating UUID for client ID\n" + narrow_ascii(error_string(status));
  return {plain_record(0x062A0000, make_new_tp, std::uint64_t{0}),
          text_record(0x06040000, make_new_tp, std::uint64_t{0}, text),
          text_record(0x06040000, make_new_tp, std::uint64_t{0}, "In catch ERROR\n"),
          value_record(0x062B0000, make_new_tp, std::uint64_t{0}, 0)};
}

TEST(ClientIdInternal, NewUuidTextsAreRandomVersion4InTheirTextForm) {
  std::set<std::string> seen;
  constexpr int count = 20000;
  for (int i = 0; i < count; ++i) {
    wygl::os::uuid_text made;
    ASSERT_EQ(wygl::os::new_uuid_text(made), 0u);
    std::string const text(made.text);
    ASSERT_TRUE(has_uuid_form(text)) << text;
    ASSERT_EQ(text[14], '4') << "version 4: " << text;
    ASSERT_NE(std::strchr("89ab", text[19]), nullptr) << "variant bits 10: " << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), std::size_t{count}) << "no UUID made twice";
}

TEST(ClientIdInternal, MakingTheUuidWritesEntryAndExit) {
  trace_capture capture(0x8 | 0x10000);
  std::basic_string<unsigned short> const uuid = wygl::client_id::make_uuid(fixed_uuid);
  EXPECT_EQ(narrow_ascii(uuid), "00112233-4455-4677-8899-aabbccddeeff");
  EXPECT_EQ(capture.take(), (std::vector<captured_record>{
                                plain_record(0x062A0000, make_new_tp, std::uint64_t{0}),
                                value_record(0x062B0000, make_new_tp, std::uint64_t{0}, 0)}));
}

TEST(ClientIdInternal, AFailedUuidIsReportedAndRaisedAsASystemError) {
  for (std::uint32_t status : {error_access_denied, rpc_s_uuid_local_only}) {
    status_now = status;
    trace_capture capture(0x8 | 0x10000);
    raised const r = raise_of([] { wygl::client_id::make_uuid(failing_uuid); });
    EXPECT_TRUE(r.thrown);
    EXPECT_EQ(r.type, std::type_index(typeid(exc_unmapped_t)));
    EXPECT_EQ(r.code, status);
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_client_id");
    std::string const system_text = narrow_ascii(error_string(status));
    EXPECT_EQ(r.message, system_text.empty() ? "system error " + std::to_string(status)
                                             : system_text.substr(0, 159));
    EXPECT_EQ(capture.take(), expected_failure_records(status));
  }
  EXPECT_FALSE(narrow_ascii(error_string(error_access_denied)).empty())
      << "one status above has a system text to show";
}

TEST(ClientIdInternal, WithTracingOffAFailureWritesNothing) {
  status_now = error_access_denied;
  trace_capture capture(0);
  raised const r = raise_of([] { wygl::client_id::make_uuid(failing_uuid); });
  EXPECT_EQ(r.code, error_access_denied);
  EXPECT_TRUE(capture.take().empty());
}

TEST(ClientIdInternal, TheConnectionCounterWrapsToOne) {
  int counter = 1;
  EXPECT_EQ(wygl::client_id::take_connection_number(counter), 1);
  EXPECT_EQ(counter, 2);
  counter = INT_MAX - 1;
  EXPECT_EQ(wygl::client_id::take_connection_number(counter), INT_MAX - 1);
  EXPECT_EQ(wygl::client_id::take_connection_number(counter), INT_MAX);
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(wygl::client_id::take_connection_number(counter), 1);
  EXPECT_EQ(counter, 2);
}

}  // namespace
