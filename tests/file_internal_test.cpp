// qmgl_file over handles that the caller owns, and the rules of the file seam that the
// library's logic rests on.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_file.h>

#include "os/file.h"
#include "os/file_names.h"
#include "os/last_error.h"
#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

namespace os = wygl::os;

std::string pointer_text(void const* p) {
  char text[64];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

os::file_handle open_for_writing(std::string const& name) {
  os::file_handle handle = nullptr;
  EXPECT_TRUE(os::open_file(name.c_str(), os::file_write_access,
                            os::file_share_read | os::file_share_write,
                            os::file_creation::create_always, nullptr, handle))
      << os::last_error();
  return handle;
}

}  // namespace

TEST(File, TheCallerKeepsTheHandleItGives) {
  temp_dir dir;
  std::string const name = dir.file("handle.txt");
  os::file_handle const handle = open_for_writing(name);
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
  EXPECT_EQ(written, 2u);
  EXPECT_TRUE(os::close_file(handle));
  EXPECT_EQ(file_contents(name), "abcd");

  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0],
            text_record(0x061E0000, 0x141A0000, object, "handle " + pointer_text(handle)));
  EXPECT_EQ(records[1],
            text_record(0x062A0000, 0x141A0400, std::uint64_t{0}, pointer_text(handle)));
  EXPECT_EQ(records[2], value_record(0x062B0000, 0x141A0400, std::uint64_t{0}, 0));
  EXPECT_EQ(records[3], plain_record(0x061F0000, 0x141A0000, object));
}

TEST(File, AHandleThatIsNotOpenCannotBeTaken) {
  temp_dir dir;
  os::file_handle const handle = open_for_writing(dir.file("closed.txt"));
  EXPECT_TRUE(os::close_file(handle));
  raised const r = raise_of([&] { qmgl_file file(handle); });
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, 6u);
}

TEST(File, SeamMarksPosition0xFFFFFFFFAsNoError) {
  temp_dir dir;
  os::file_handle const handle = open_for_writing(dir.file("far.txt"));
  EXPECT_EQ(os::set_file_pointer(handle, 0x7FFFFFFF, os::file_origin::begin), 0x7FFFFFFFu);
  EXPECT_EQ(os::set_file_pointer(handle, 0x7FFFFFFF, os::file_origin::current), 0xFFFFFFFEu);
  os::set_last_error(77);
  EXPECT_EQ(os::set_file_pointer(handle, 1, os::file_origin::current), 0xFFFFFFFFu);
  EXPECT_EQ(os::last_error(), 0u);
  os::set_last_error(77);
  EXPECT_EQ(os::set_file_pointer(handle, -0x7FFFFFFF, os::file_origin::current), 0x80000000u);
  EXPECT_EQ(os::last_error(), 77u) << "other successes leave the last error alone";
  EXPECT_EQ(os::set_file_pointer(handle, -1, os::file_origin::begin), 0xFFFFFFFFu);
  EXPECT_EQ(os::last_error(), 131u);
  EXPECT_TRUE(os::close_file(handle));
}

TEST(File, SeamFullPathSizes) {
  char buffer[8] = {};
  os::set_last_error(77);
  EXPECT_EQ(os::full_path_name("", sizeof buffer, buffer), 0u);
  EXPECT_EQ(os::last_error(), 77u) << "no path for an empty name, and no error of its own";

  std::uint32_t const needed = os::full_path_name("x", 1, buffer);
  ASSERT_GT(needed, 2u);
  std::string full(needed, '?');
  EXPECT_EQ(os::full_path_name("x", needed - 1, full.data()), needed) << "one short";
  EXPECT_EQ(full, std::string(needed, '?')) << "nothing copied";
  EXPECT_EQ(os::full_path_name("x", needed, full.data()), needed - 1) << "the length, NUL aside";
  EXPECT_EQ(full[needed - 2], 'x');
  EXPECT_EQ(full[needed - 1], '\0');
}
