// What the POSIX backend's file emulation adds, and what needs a process that a shell has set
// up: a file size limit (for a short write), a closed standard error, a second process
// holding a file.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>
#include <wygl/qmgl_file_stream.h>

#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

// The role that a test of this file gave this process when it started it, then a space and its
// argument; empty in the test's own process.
std::string role() {
  char const* value = std::getenv("WYGL_FILE_TEST_ROLE");
  return value != nullptr ? value : "";
}

// Runs the current test again in a new process of this program, through the shell: setup runs
// first in that shell, then the program, with only this test selected, the role in its
// environment, and at most 60 seconds to run. Returns the child's exit code (0 when its
// expectations held), or -1 when it was killed by a signal or did not start.
int run_in_child(std::string const& setup, std::string const& given_role) {
  auto const* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string const command = setup + "; WYGL_FILE_TEST_ROLE='" + given_role +
                              "' exec timeout 60 '" +
                              std::filesystem::read_symlink("/proc/self/exe").string() +
                              "' --gtest_filter=" + test->test_suite_name() + "." + test->name();
  int const status = std::system(command.c_str());
  // A wait status: a signal number in the low seven bits, else the exit code above them.
  return status == -1 || (status & 0x7F) != 0 ? -1 : (status >> 8) & 0xFF;
}

using f = qmgl_file;

std::uint32_t open_error(std::string const& name, f::access_requested_indicator access,
                         f::access_denied_indicator denied) {
  return raise_of([&] { f file(name.c_str(), f::open_existing, access, denied); }).code;
}

}  // namespace

TEST(FileStream, ShortWriteRaisesNotEnoughDisk) {
  if (role() != "short-write") {
    // A file size limit makes the system take only the first part of a larger write; the
    // signal that a write at the limit would send is ignored. In a coverage build the limited
    // process writes its counts into a folder of its own (GCOV_PREFIX), since counts cut short
    // by the limit would spoil those of every later process.
    temp_dir counts;
    EXPECT_EQ(run_in_child("export GCOV_PREFIX='" + counts.path().string() + "'" +
                               " && ulimit -f 2 && trap '' XFSZ",
                           "short-write"),
              0);
    return;
  }
  temp_dir dir;
  std::string const name = dir.file("limited.txt");
  trace_capture capture(0x8);
  std::optional<qmgl_output_file> out(std::in_place, name.c_str(), qmgl_output_file::truncate);
  out->put_chars('x', 4096);

  raised const r = raise_of([&] { out->flush(); });
  EXPECT_EQ(r.type, typeid(exc_not_enough_disk_t));
  EXPECT_EQ(r.code, 0x2003001Bu);
  EXPECT_EQ(r.message, "exc_not_enough_disk");
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_output");
  EXPECT_EQ(out->get_output_buffer_length(), 4096) << "the block stays for the next flush";
  auto const taken = std::filesystem::file_size(name);
  EXPECT_GT(taken, 0u);
  EXPECT_LT(taken, 4096u);
  EXPECT_EQ(capture.take(), std::vector{text_record(0x06040000, 0x141C0600, std::uint64_t{0},
                                                    "write failed for Size:4096 BytesWritten:" +
                                                        std::to_string(taken))});

  // The destructor's try starts at the limit, where the system refuses the write outright.
  std::uint64_t const object = object_word(&*out);
  out.reset();
  EXPECT_EQ(capture.take(), std::vector{text_record(0x06040000, 0x141C0000, object,
                                                    "flush at destruction failed, 4096 characters "
                                                    "lost: 223 " +
                                                        system_text(223))});
}

TEST(FileStream, StandardErrorWithoutAHandleWritesToNul) {
  if (role() != "no-standard-error") {
    EXPECT_EQ(run_in_child("exec 2>&-", "no-standard-error"), 0);
    return;
  }
  trace_capture capture(0x40);
  qmgl_output_file& first = qmgl_output_file::std_error();
  std::vector<captured_record> const records = capture.take();
  ASSERT_EQ(records.size(), 2u);
  // The failed duplication raised an exception, caught inside; then the stream's own record.
  EXPECT_EQ(records[0].kind, 0x06070000u);
  EXPECT_EQ(records[0].tracepoint, 0x14010100u);
  EXPECT_NE(records[0].data.find("; error: 0x6 = 6"), std::string::npos) << records[0].data;
  EXPECT_EQ(records[1], plain_record(0x06070000, 0x141C0400, std::uint64_t{0}));

  EXPECT_EQ(&qmgl_output_file::std_error(), &first);
  EXPECT_TRUE(capture.take().empty()) << "the handle is tried on the first call only";
  first << "discarded";
  EXPECT_NO_THROW(first.flush());
  EXPECT_EQ(first.get_output_buffer_length(), 0);

  EXPECT_EQ(raise_of([] { qmgl_file::std_error(); }).code, 6u);
}

TEST(File, ShareModesHoldAcrossProcesses) {
  std::string const name = role().substr(role().find(' ') + 1);
  if (role().starts_with("held ")) {
    EXPECT_EQ(open_error(name, f::access_read, f::deny_none), 0u);
    EXPECT_EQ(open_error(name, f::access_read, f::deny_write), 32u);
    EXPECT_EQ(raise_of([&] { f::remove(name.c_str()); }).code, 32u);
  }
  if (!role().empty()) {
    EXPECT_EQ(open_error(name, f::access_write, f::deny_write), role()[0] == 'h' ? 32u : 0u);
    return;
  }
  temp_dir dir;
  std::string const held = dir.file("held.txt");
  std::optional<f> holder(std::in_place, held.c_str(), f::create_new, f::access_write,
                          f::deny_write);
  EXPECT_EQ(run_in_child("true", "held " + held), 0);
  holder.reset();
  EXPECT_EQ(run_in_child("true", "free " + held), 0);
}

TEST(File, TheCallerKeepsTheHandleItGives) {
  std::FILE* const stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  void* const handle = reinterpret_cast<void*>(static_cast<std::intptr_t>(fileno(stream)));
  trace_capture capture(0x800 | 0x10000);
  std::uint64_t object = 0;
  {
    f file(handle);
    object = object_word(&file);
    EXPECT_EQ(file.write("ab", 2), 2u);
  }
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "%p", handle);
  EXPECT_EQ(
      capture.take(),
      (std::vector{text_record(0x061E0000, 0x141A0000, object, std::string("handle ") + pointer),
                   text_record(0x062A0000, 0x141A0400, std::uint64_t{0}, pointer),
                   value_record(0x062B0000, 0x141A0400, std::uint64_t{0}, 0),
                   plain_record(0x061F0000, 0x141A0000, object)}));
  EXPECT_EQ(std::fseek(stream, 0, SEEK_END), 0) << "still open after the object ended";
  EXPECT_EQ(std::ftell(stream), 2);
  EXPECT_EQ(std::fclose(stream), 0);
}

// The null device shares: writers that deny writing all open it.
TEST(File, NulNamesTheNullDevice) {
  f first("nul:", f::open_or_create, f::access_write, f::deny_write);
  for (char const* name : {"nul:", "NUL", "Nul:", "nul"}) {
    f null(name, f::open_existing, f::access_write, f::deny_write);
    EXPECT_EQ(null.write("abc", 3), 3u) << name;
    EXPECT_NO_THROW(null.flush()) << name;
  }
  EXPECT_TRUE(f::exists("NUL:"));
  EXPECT_EQ(raise_of([] { f file(reinterpret_cast<void*>(std::intptr_t{-1})); }).code, 6u)
      << "a handle that is not open";
}

TEST(File, CanonizeDoesNotFollowSymbolicLinks) {
  temp_dir dir;
  std::filesystem::create_directories(dir.path() / "real" / "inner");
  std::filesystem::create_directory_symlink(dir.path() / "real" / "inner", dir.path() / "link");
  std::string expected = dir.file("x.txt");
  std::transform(expected.begin(), expected.end(), expected.begin(),
                 [](char c) { return std::tolower(c); });
  EXPECT_EQ(std::string(f::canonize((dir.file("link") + "/../X.txt").c_str())), expected);
  EXPECT_EQ(std::string(f::canonize("/..//a/./B/")), "/a/b/");
}
