// qmgl_file: opening, share modes, reading and writing, positions, times, operations on names,
// and trace records. Every expectation holds on both backends, with the same error numbers.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>

#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

using f = qmgl_file;
namespace fs = std::filesystem;

constexpr auto R = f::access_read, W = f::access_write, RW = f::access_read_write;
constexpr auto N = f::deny_none, DW = f::deny_write, DRW = f::deny_read_write;
constexpr std::uint32_t not_found = 2, no_path = 3, denied = 5, sharing = 32, exists = 80;
constexpr char file_raiser[] = "src/qmgl/qmgl_file";

// The system's text, then the name in brackets when there is one; an exception keeps the first
// 159 characters.
std::string message_of(std::uint32_t code, std::string const& name = "") {
  return (system_text(code) + (name.empty() ? "" : " ( " + name + " ) ")).substr(0, 159);
}

// Opens with the enumerations given as plain numbers, as a wrong value arrives from a caller.
raised open_raise(std::string const& name, int action, int access, int deny) {
  return raise_of([&] {
    f file(name.c_str(), static_cast<f::action_indicator>(action),
           static_cast<f::access_requested_indicator>(access),
           static_cast<f::access_denied_indicator>(deny));
  });
}

// code 0: nothing raised.
void expect_error(raised const& r, std::uint32_t code, std::string const& message) {
  EXPECT_EQ(r.thrown, code != 0);
  if (code == 0) return;
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, code);
  EXPECT_EQ(r.message, message);
  EXPECT_STREQ(r.file, file_raiser);
}

}  // namespace

TEST(File, OpenActions) {
  // The target ("f" holds "old" first when existing), the action and access, then the code and
  // the target's contents ("-": no file).
  std::tuple<char const*, bool, int, int, std::uint32_t, char const*> const rows[] = {
      {"f", false, f::open_existing, R, not_found, "-"},
      {"no-folder/f", false, f::open_existing, R, no_path, "-"},
      {"f", false, f::open_or_create, R, 0, ""},
      {"f", true, f::create_new, W, exists, "old"},
      {"f", true, f::open_or_create, R, 0, "old"},
      {"f", true, f::truncate_existing, W, 0, ""},
      {"f", true, f::create_or_truncate, W, 0, ""},
      {"folder", false, f::open_existing, R, denied, "-"},
      {"folder", false, f::open_or_create, W, denied, "-"},
      {"folder", false, f::create_new, R, exists, "-"},
  };
  temp_dir dir;
  fs::create_directory(dir.file("folder"));
  for (auto const& [target, existing, action, access, code, after] : rows) {
    SCOPED_TRACE(testing::Message() << target << " " << existing << " " << action);
    std::string const name = dir.file(target);
    if (existing) write_file(name, "old");
    expect_error(open_raise(name, action, access, N), code, message_of(code));
    EXPECT_EQ(fs::is_regular_file(name) ? file_contents(name) : "-", after);
    fs::remove(dir.file("f"));
  }
}

// Checked before anything is opened, the action first, then the denied value, then the access.
TEST(File, ArgumentsAreCheckedBeforeAnythingIsOpened) {
  temp_dir dir;
  std::string const name = dir.file("never.txt");
  std::map<int, int> lines;  // of each check, distinct
  int const rows[][4] = {{0, 9, 1, 0},  {6, R, N, 0}, {1, 9, 1, 1},
                         {1, W, -1, 1}, {1, 0, N, 2}, {1, 4, DW, 2}};
  for (auto [action, access, deny, check] : rows) {
    raised const e = open_raise(name, action, access, deny);
    EXPECT_EQ(e.message, "exc_invalid_parameter") << action << access << deny;
    EXPECT_EQ(lines.emplace(check, e.line).first->second, e.line) << action << access << deny;
  }
  EXPECT_NE(lines[0], lines[1]);
  EXPECT_NE(lines[1], lines[2]);
  EXPECT_FALSE(fs::exists(name));
}

TEST(File, ReadWriteAndThirtyTwoBitPositions) {
  temp_dir dir;
  std::string const name = dir.file("rw.txt");
  f file(name.c_str(), f::create_new, RW, N);
  EXPECT_EQ(file.write("hello world", 11), 11u);
  EXPECT_EQ(file.seek(-5, f::seek_end), 6u);
  char text[16] = {};
  EXPECT_EQ(file.read(text, sizeof text), 5u);
  EXPECT_STREQ(text, "world");
  EXPECT_EQ(file.read(text, sizeof text), 0u) << "the end of the file";
  EXPECT_EQ(file.seek(-2, f::seek_current), 9u);
  file.append();
  EXPECT_EQ(file.write("!", 1), 1u);
  EXPECT_EQ(file_contents(name), "hello world!");
  file.truncate();
  EXPECT_EQ(file.write("", 0), 0u);
  EXPECT_EQ(file.seek(0x7FFFFFFF, f::seek_begin), 0x7FFFFFFFul);
  EXPECT_EQ(file.seek(0x7FFFFFFF, f::seek_current), 0xFFFFFFFEul);
  EXPECT_EQ(file.seek(1, f::seek_current), 0xFFFFFFFFul) << "a position, not a failure";
  expect_error(raise_of([&] { file.seek(-1, f::seek_begin); }), 131, message_of(131));
  EXPECT_EQ(file.seek(0, f::seek_current), 0xFFFFFFFFul) << "the position stays";
  EXPECT_EQ(file.seek(0, f::seek_end), 0u) << "seeking writes nothing";
  for (int bad : {3, -1})
    EXPECT_EQ(raise_of([&] { file.seek(0, static_cast<f::seek_indicator>(bad)); }).message,
              "exc_invalid_parameter");
  f reader(name.c_str(), f::open_existing, R, N);
  expect_error(raise_of([&] { reader.write("x", 1); }), denied, message_of(denied));
  expect_error(raise_of([&] { reader.flush(); }), denied, message_of(denied));
  EXPECT_NO_THROW(file.flush());
  expect_error(raise_of([&] { f(name.c_str(), f::open_existing, W, N).read(text, 1); }), denied,
               message_of(denied));
}

// Emptying a file counts as writing it.
TEST(File, ShareModesBetweenTwoOpeners) {
  // The first opener's access and denied value, the second's action, access and denied value.
  std::tuple<f::access_requested_indicator, f::access_denied_indicator, int, int, int, bool> const
      rows[] = {
          {R, DW, f::open_existing, W, N, true},     {R, DW, f::open_existing, R, DW, false},
          {R, DW, f::open_existing, R, N, false},    {R, DW, f::create_or_truncate, W, N, true},
          {R, DW, f::truncate_existing, W, N, true}, {W, DW, f::open_existing, R, N, false},
          {W, DW, f::open_existing, R, DW, true},    {W, DW, f::open_existing, W, DW, true},
          {RW, DRW, f::open_existing, R, N, true},   {R, N, f::open_existing, R, DRW, true},
          {R, N, f::open_existing, W, N, false},     {W, N, f::open_existing, W, N, false},
          {W, N, f::open_existing, R, DW, true},     {RW, N, f::open_existing, RW, N, false},
      };
  temp_dir dir;
  std::string const name = dir.file("shared.txt");
  write_file(name, "shared");
  for (auto const& [access1, deny1, action2, access2, deny2, conflict] : rows) {
    SCOPED_TRACE(testing::Message() << access1 << deny1 << action2 << access2 << deny2);
    std::optional<f> first(std::in_place, name.c_str(), f::open_existing, access1, deny1);
    expect_error(open_raise(name, action2, access2, deny2), conflict ? sharing : 0,
                 message_of(sharing));
    first.reset();
    EXPECT_FALSE(open_raise(name, f::open_existing, access2, deny2).thrown) << "ended";
    EXPECT_EQ(file_contents(name), "shared");
  }
}

TEST(File, LastModificationTime) {
  temp_dir dir;
  std::string const name = dir.file("time.txt");
  auto modified = [](std::string const& file) {
    return f(file.c_str(), f::open_existing, R, N).get_last_mod_time();
  };
  write_file(name, "first");
  f::timestamp const first = modified(name), later = {first.low, first.high + 1};
  // 100-nanosecond ticks since 1601, close to the clock's time now.
  auto const now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
  EXPECT_NEAR(((std::uint64_t{first.high} << 32) | first.low) / 1e7 - 11644473600.0, now, 600);
  f::copy(name.c_str(), dir.file("copy.txt").c_str());
  EXPECT_EQ(modified(dir.file("copy.txt")), first) << "a copy keeps the time";
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (modified(name) == first && std::chrono::steady_clock::now() < deadline)
    write_file(name, "second");  // until the file system's clock has moved on
  EXPECT_GT(modified(name), first);
  EXPECT_LT(f::timestamp({0xFFFFFFFF, first.high}), later) << "the high half first";
}

// Run in order, each row followed by a look at one file; a row may hold a file open meanwhile,
// which then can be neither removed, nor renamed, nor replaced, whatever its share mode.
// Messages name the first argument.
TEST(File, CopyRenameAndRemove) {
  using op = void (*)(char const*, char const*);
  op const copy = [](char const* a, char const* b) { f::copy(a, b); };
  op const copy_force = [](char const* a, char const* b) { f::copy(a, b, f::force); };
  op const rename = [](char const* a, char const* b) { f::rename(a, b); };
  op const rename_force = [](char const* a, char const* b) { f::rename(a, b, f::force); };
  op const remove = [](char const* a, char const*) { f::remove(a); };
  struct row {
    op what;
    char const *from, *to;
    std::uint32_t code;
    char const *look, *contents;  // contents "-": no file
    int held = 0;  // held open as "a" meanwhile: 1 read, 2 write, 3 both, denying as much
  } const rows[] = {
      {copy, "a", "b", exists, "b", "b"},
      {copy_force, "a", "b", 0, "b", "a"},
      {copy, "a", "c", 0, "c", "a"},
      {copy, "missing", "c", not_found, "c", "a"},
      {copy_force, "a", "a", sharing, "a", "a"},  // the source, open for reading, denies
      {rename, "a", "b", 183, "a", "a"},
      {rename_force, "c", "b", 0, "c", "-"},
      {rename, "b", "e", 0, "b", "-"},
      {rename_force, "e", "b", 0, "b", "a"},  // nothing to replace
      {rename, "missing", "c", not_found, "c", "-"},
      {rename, "b", "no-folder/b", no_path, "b", "a"},
      {rename_force, "missing", "a", not_found, "a", "a"},  // keeps the target
      {rename_force, "b", "./b", 0, "b", "a"},              // one file twice
      {remove, "a", "", sharing, "a", "a", 1},
      {rename, "a", "c", sharing, "c", "-", 2},
      {rename_force, "a", "b", sharing, "b", "a", 3},
      {rename_force, "b", "a", denied, "b", "a", 1},
      {rename, "b", "a", 183, "b", "a", 3},
      {rename_force, "b", "B", 0, "B", "a"},  // a change of case alone
      {remove, "a", "", 0, "a", "-"},
      {remove, "a", "", not_found, "a", "-"},
      {remove, "no-folder/a", "", no_path, "B", "a"},
      {remove, "folder", "", denied, "folder", "-"},
  };
  temp_dir dir;
  write_file(dir.file("a"), "a");
  write_file(dir.file("b"), "b");
  fs::create_directory(dir.file("folder"));
  for (row const& r : rows) {
    SCOPED_TRACE(testing::Message() << "row " << &r - rows);
    std::string const from = dir.file(r.from), to = dir.file(r.to);
    std::optional<f> held;
    if (r.held != 0)
      held.emplace(dir.file("a").c_str(), f::open_existing,
                   static_cast<f::access_requested_indicator>(r.held),
                   static_cast<f::access_denied_indicator>(r.held == 1 ? 0 : r.held));
    expect_error(raise_of([&] { r.what(from.c_str(), to.c_str()); }), r.code,
                 message_of(r.code, from));
    std::string const look = dir.file(r.look);
    EXPECT_EQ(fs::is_regular_file(look) ? file_contents(look) : "-", r.contents);
  }
  EXPECT_TRUE(fs::is_directory(dir.file("folder")));
}

TEST(File, ExistsAndCanonize) {
  temp_dir dir;
  std::string const name = dir.file("here.txt");
  write_file(name, "x");
  for (auto [path, expected] :
       {std::pair{name, true}, std::pair{dir.path().string(), true},
        std::pair{dir.file("missing.txt"), false}, std::pair{dir.file("no-folder/x"), false},
        std::pair{name + "/x.txt", false}, std::pair{std::string(), false}})
    EXPECT_EQ(f::exists(path.c_str()), expected) << path;
  expect_error(raise_of([&] { f::exists(dir.file(std::string(300, 'n')).c_str()); }), 206,
               message_of(206));

  std::string full = (fs::current_path() / "name.txt").string(),
              in_dir = (dir.path() / "a" / "c.txt").string();
  for (std::string* text : {&full, &in_dir})
    std::transform(text->begin(), text->end(), text->begin(),
                   [](char c) { return std::tolower(c); });
  EXPECT_EQ(std::string(f::canonize("Sub/../Name.TXT")), full);
  EXPECT_EQ(std::string(f::canonize((dir.file("A") + "/./B/../C.Txt").c_str())), in_dir);
  for (char const* nothing : {"", static_cast<char const*>(nullptr)}) {
    raised const r = raise_of([&] { f::canonize(nothing); });
    EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
    EXPECT_EQ(r.message, "assertion failed: length2 == length - 1");
  }
}

TEST(File, StandardHandlesAreMadeOnce) {
  EXPECT_EQ(&f::std_input(), &f::std_input());
  EXPECT_NE(&f::std_output(), &f::std_error());
  EXPECT_EQ(&f::std_error(), &f::std_error());
}

// A copy shares the open file: one position, and the share mode until both have closed.
TEST(File, OperationsAreTracedAndCopiesShareTheFile) {
  temp_dir dir;
  std::string const name = dir.file("traced.txt");
  trace_capture capture(0x800 | 0x1000 | 0x10000 | 0x40000);
  std::optional<f> file(std::in_place, name.c_str(), f::create_new, RW, DW);
  std::uint64_t const object = object_word(&*file);
  file->write("abc", 3);
  file->append();
  std::vector<captured_record> const records = capture.take();
  std::optional<f> copy(std::in_place, *file);
  std::vector<captured_record> const copied = capture.take();
  auto in = [&](std::uint32_t tp, std::string text) {
    return text_record(0x06200000, 0x141A0000 | tp, object, std::move(text));
  };
  auto out = [&](std::uint32_t tp) { return value_record(0x06210000, 0x141A0000 | tp, object, 0); };
  EXPECT_EQ(records, (std::vector{text_record(0x061E0000, 0x141A0000, object, name + ", 1, 3, 2"),
                                  in(0x1000, "3"), out(0x1000), in(0x0100, ""), in(0x0B00, "0, 2"),
                                  out(0x0B00), out(0x0100)}));
  // The handles' values belong to the system; the records name the original's, then the new.
  char position[64];
  std::snprintf(position, sizeof position, "file %p", static_cast<void*>(&*file));
  ASSERT_EQ(copied.size(), 4u);
  EXPECT_EQ(copied[0], text_record(0x061E0000, 0x141A0000, &*copy, position));
  EXPECT_EQ(copied[1].kind, 0x062A0000u);
  EXPECT_EQ(copied[2].data.rfind("new_handle ", 0), 0u) << copied[2].data;
  EXPECT_NE(copied[2].data, "new_handle " + copied[1].data);
  EXPECT_EQ(copied[3], value_record(0x062B0000, 0x141A0400, std::uint64_t{0}, 0));

  copy->write("d", 1);
  EXPECT_EQ(file->seek(0, f::seek_current), 4u) << "one position for both";
  file.reset();
  EXPECT_EQ(capture.take().back(), plain_record(0x061F0000, 0x141A0000, object));
  EXPECT_EQ(copy->write("e", 1), 1u) << "each closes only its own handle";
  expect_error(open_raise(name, f::open_existing, W, N), sharing, message_of(sharing));
  copy.reset();
  EXPECT_FALSE(open_raise(name, f::open_existing, W, N).thrown);
  EXPECT_EQ(file_contents(name), "abcde");
}
