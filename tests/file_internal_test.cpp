// qmgl_file over a handle that the caller owns: the caller's handle stays open.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_file.h>

#include "os/file.h"
#include "os/last_error.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace os = wygl::os;

TEST(File, TheCallerKeepsTheHandleItGives) {
  temp_dir dir;
  std::string const name = dir.file("handle.txt");
  os::file_handle handle = nullptr;
  ASSERT_TRUE(os::open_file(name.c_str(), os::file_write_access,
                            os::file_share_read | os::file_share_write,
                            os::file_creation::create_always, nullptr, handle))
      << os::last_error();
  std::vector<captured_record> records;
  std::uint64_t object = 0;
  {
    trace_capture capture(0x800 | 0x10000);
    {
      qmgl_file file(handle);
      object = object_word(&file);
      EXPECT_EQ(file.write("ab", 2), 2u);
    }
    records = capture.take();
  }
  std::uint32_t written = 0;
  EXPECT_TRUE(os::write_file(handle, "cd", 2, written)) << "still open after the object ended";
  EXPECT_TRUE(os::close_file(handle));
  EXPECT_EQ(file_contents(name), "abcd");

  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(handle));
  std::vector<captured_record> const expected = {
      text_record(0x061E0000, 0x141A0000, object, std::string("handle ") + pointer),
      text_record(0x062A0000, 0x141A0400, std::uint64_t{0}, pointer),
      value_record(0x062B0000, 0x141A0400, std::uint64_t{0}, 0),
      plain_record(0x061F0000, 0x141A0000, object)};
  EXPECT_EQ(records, expected);
}
