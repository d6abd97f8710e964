// What the POSIX backend's file emulation adds, and what needs a process that a shell has set
// up: a file size limit (for a short write), a closed standard error, a second process
// holding a file.

#include <cstdint>
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

constexpr char role_variable[] = "WYGL_FILE_TEST_ROLE";
constexpr char argument_variable[] = "WYGL_FILE_TEST_ARGUMENT";

std::string environment(char const* name) {
  char const* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The role a test of this file gave this process when it started it; empty in the test's own
// process.
std::string child_role() {
  return environment(role_variable);
}

std::string shell_quoted(std::string const& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the current test again in a new process of this program, through the shell: setup runs
// first in that shell, then the program, with only this test selected, the role and the
// argument in its environment, and at most 60 seconds to run. Returns the child's exit code
// (0 when its expectations held), or -1 when it was killed by a signal or did not start.
int run_in_child(std::string const& setup, std::string const& role,
                 std::string const& argument = "") {
  auto const* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string const filter = std::string(test->test_suite_name()) + "." + test->name();
  std::string const program = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string const command = setup + "; " + role_variable + "=" + shell_quoted(role) + " " +
                              argument_variable + "=" + shell_quoted(argument) +
                              " exec timeout 60 " + shell_quoted(program) +
                              " --gtest_filter=" + shell_quoted(filter);
  int const status = std::system(command.c_str());
  // A wait status: a signal number in the low seven bits, else the exit code above them.
  if (status == -1 || (status & 0x7F) != 0) return -1;
  return (status >> 8) & 0xFF;
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

raised open_raise(std::string const& name, qmgl_file::access_requested_indicator access,
                  qmgl_file::access_denied_indicator denied) {
  return raise_of([&] { qmgl_file file(name.c_str(), qmgl_file::open_existing, access, denied); });
}

}  // namespace

TEST(FileStream, ShortWriteRaisesNotEnoughDisk) {
  if (child_role() != "short-write") {
    // A file size limit makes the system take only the first part of a larger write; the
    // signal that a write at the limit would send is ignored. In a coverage build the limited
    // process writes its counts into a folder of its own (GCOV_PREFIX), since counts cut short
    // by the limit would spoil those of every later process.
    temp_dir counts;
    EXPECT_EQ(run_in_child("export GCOV_PREFIX=" + shell_quoted(counts.path().string()) +
                               " && ulimit -f 2 && trap '' XFSZ",
                           "short-write"),
              0);
    return;
  }
  temp_dir dir;
  std::string const name = dir.file("limited.txt");
  trace_capture capture(0x8);
  std::optional<qmgl_output_file> out;
  out.emplace(name.c_str(), qmgl_output_file::truncate);
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
  std::vector<captured_record> const short_write = {
      text_record(0x06040000, 0x141C0600, std::uint64_t{0},
                  "write failed for Size:4096 BytesWritten:" + std::to_string(taken))};
  EXPECT_EQ(capture.take(), short_write);

  // The destructor's try starts at the limit, where the system refuses the write outright.
  std::uint64_t const object = object_word(&*out);
  out.reset();
  std::vector<captured_record> const lost = {
      text_record(0x06040000, 0x141C0000, object,
                  "flush at destruction failed, 4096 characters lost: 223 " + system_text(223))};
  EXPECT_EQ(capture.take(), lost);
}

TEST(FileStream, StandardErrorWithoutAHandleWritesToNul) {
  if (child_role() != "no-standard-error") {
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

  raised const r = raise_of([] { qmgl_file::std_error(); });
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, 6u);
}

TEST(File, ShareModesHoldAcrossProcesses) {
  if (child_role() == "held") {
    std::string const name = environment(argument_variable);
    EXPECT_FALSE(open_raise(name, qmgl_file::access_read, qmgl_file::deny_none).thrown);
    EXPECT_EQ(open_raise(name, qmgl_file::access_write, qmgl_file::deny_none).code, 32u);
    EXPECT_EQ(open_raise(name, qmgl_file::access_read, qmgl_file::deny_write).code, 32u);
    EXPECT_EQ(raise_of([&] { qmgl_file::remove(name.c_str()); }).code, 32u);
    return;
  }
  if (child_role() == "free") {
    std::string const name = environment(argument_variable);
    EXPECT_FALSE(open_raise(name, qmgl_file::access_write, qmgl_file::deny_write).thrown);
    return;
  }
  temp_dir dir;
  std::string const name = dir.file("held.txt");
  std::optional<qmgl_file> holder;
  holder.emplace(name.c_str(), qmgl_file::create_new, qmgl_file::access_write,
                 qmgl_file::deny_write);
  EXPECT_EQ(run_in_child("true", "held", name), 0);
  holder.reset();
  EXPECT_EQ(run_in_child("true", "free", name), 0);
}

TEST(File, NulNamesTheNullDevice) {
  for (char const* name : {"nul:", "NUL", "Nul:", "nul"}) {
    qmgl_file null(name, qmgl_file::open_existing, qmgl_file::access_write, qmgl_file::deny_write);
    EXPECT_EQ(null.write("abc", 3), 3u) << name;
    // Nothing to write to a disk, as for a console: no failure.
    EXPECT_NO_THROW(null.flush()) << name;
  }
  // The null device shares: two writers that deny writing both open it.
  qmgl_file first("nul:", qmgl_file::open_or_create, qmgl_file::access_write,
                  qmgl_file::deny_write);
  EXPECT_NO_THROW(
      qmgl_file("nul:", qmgl_file::open_or_create, qmgl_file::access_write, qmgl_file::deny_write));
  EXPECT_TRUE(qmgl_file::exists("NUL:"));
}

TEST(File, CanonizeDoesNotFollowSymbolicLinks) {
  temp_dir dir;
  std::filesystem::create_directories(dir.path() / "real" / "inner");
  std::filesystem::create_directory_symlink(dir.path() / "real" / "inner", dir.path() / "link");
  std::string const full(qmgl_file::canonize((dir.file("link") + "/../X.txt").c_str()));
  EXPECT_EQ(full, lower(dir.file("x.txt")));
  EXPECT_EQ(std::string(qmgl_file::canonize("/..//a/./B/")), "/a/b/");
}
