// qmgl_file: opening, share modes, reading and writing, positions, times, operations on names,
// and trace records. Every expectation holds on both backends, with the same error numbers.

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>

#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"

namespace {

constexpr std::uint32_t file_not_found = 2;
constexpr std::uint32_t path_not_found = 3;
constexpr std::uint32_t access_denied = 5;
constexpr std::uint32_t sharing_violation = 32;
constexpr std::uint32_t file_exists = 80;
constexpr std::uint32_t negative_seek = 131;
constexpr std::uint32_t already_exists = 183;
constexpr std::uint32_t filename_exced_range = 206;

constexpr std::uint32_t invalid_parameter_code = 0x20000000;
constexpr char file_raiser[] = "src/qmgl/qmgl_file";

// The message an exception keeps: its first 159 characters.
std::string kept(std::string const& message) {
  return message.substr(0, 159);
}

// The message of a failure on a name: the system's text, then the name in brackets.
std::string about(std::uint32_t code, std::string const& name) {
  return kept(system_text(code) + " ( " + name + " ) ");
}

std::string lower(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string position_text(void const* p) {
  char text[64];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// Opens with the enumerations given as plain numbers, as a wrong value arrives from a caller.
raised open_raise(std::string const& name, int action, int access, int denied) {
  return raise_of([&] {
    qmgl_file file(name.c_str(), static_cast<qmgl_file::action_indicator>(action),
                   static_cast<qmgl_file::access_requested_indicator>(access),
                   static_cast<qmgl_file::access_denied_indicator>(denied));
  });
}

void expect_system_error(raised const& r, std::uint32_t code, std::string const& message) {
  EXPECT_TRUE(r.thrown);
  EXPECT_EQ(r.type, typeid(exc_unmapped_t));
  EXPECT_EQ(r.code, code);
  EXPECT_EQ(r.message, message);
  EXPECT_STREQ(r.file, file_raiser);
}

void expect_invalid_parameter(raised const& r) {
  EXPECT_EQ(r.type, typeid(exc_invalid_parameter_t));
  EXPECT_EQ(r.code, invalid_parameter_code);
  EXPECT_EQ(r.message, "exc_invalid_parameter");
  EXPECT_STREQ(r.file, file_raiser);
}

std::uint64_t ticks(qmgl_file::timestamp t) {
  return (static_cast<std::uint64_t>(t.high) << 32) | t.low;
}

qmgl_file::timestamp modified(std::string const& name) {
  qmgl_file file(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                 qmgl_file::deny_none);
  return file.get_last_mod_time();
}

}  // namespace

TEST(File, MissingFilesAndFolders) {
  temp_dir dir;
  std::string const missing = dir.file("missing.txt");
  std::string const in_missing_folder = dir.file("no-folder") + "/file.txt";

  expect_system_error(
      open_raise(missing, qmgl_file::open_existing, qmgl_file::access_read, qmgl_file::deny_none),
      file_not_found, kept(system_text(file_not_found)));
  expect_system_error(open_raise(missing, qmgl_file::truncate_existing, qmgl_file::access_write,
                                 qmgl_file::deny_none),
                      file_not_found, kept(system_text(file_not_found)));
  expect_system_error(open_raise(in_missing_folder, qmgl_file::open_existing,
                                 qmgl_file::access_read, qmgl_file::deny_none),
                      path_not_found, kept(system_text(path_not_found)));
  expect_system_error(open_raise(in_missing_folder, qmgl_file::create_new, qmgl_file::access_write,
                                 qmgl_file::deny_none),
                      path_not_found, kept(system_text(path_not_found)));
  EXPECT_FALSE(std::filesystem::exists(missing));

  {
    qmgl_file created(missing.c_str(), qmgl_file::open_or_create, qmgl_file::access_read,
                      qmgl_file::deny_none);
    char byte = 0;
    EXPECT_EQ(created.read(&byte, 1), 0u) << "a new file is empty";
  }
  EXPECT_TRUE(std::filesystem::exists(missing));
  EXPECT_EQ(std::filesystem::file_size(missing), 0u);
}

TEST(File, ActionsOnAnExistingFile) {
  temp_dir dir;
  std::string const name = dir.file("data.txt");
  write_file(name, "hello");

  expect_system_error(
      open_raise(name, qmgl_file::create_new, qmgl_file::access_write, qmgl_file::deny_none),
      file_exists, kept(system_text(file_exists)));
  EXPECT_EQ(file_contents(name), "hello");
  {
    qmgl_file file(name.c_str(), qmgl_file::open_or_create, qmgl_file::access_read,
                   qmgl_file::deny_none);
    char text[8] = {};
    EXPECT_EQ(file.read(text, sizeof text), 5u);
    EXPECT_EQ(std::string(text), "hello");
  }
  {
    qmgl_file file(name.c_str(), qmgl_file::truncate_existing, qmgl_file::access_write,
                   qmgl_file::deny_none);
  }
  EXPECT_EQ(file_contents(name), "");
  write_file(name, "again");
  {
    qmgl_file file(name.c_str(), qmgl_file::create_or_truncate, qmgl_file::access_write,
                   qmgl_file::deny_none);
  }
  EXPECT_EQ(file_contents(name), "");

  // A folder is not a file: refused, or already there for create_new.
  std::string const folder = dir.path().string();
  expect_system_error(
      open_raise(folder, qmgl_file::open_existing, qmgl_file::access_read, qmgl_file::deny_none),
      access_denied, kept(system_text(access_denied)));
  expect_system_error(
      open_raise(folder, qmgl_file::open_or_create, qmgl_file::access_write, qmgl_file::deny_none),
      access_denied, kept(system_text(access_denied)));
  expect_system_error(
      open_raise(folder, qmgl_file::create_new, qmgl_file::access_read, qmgl_file::deny_none),
      file_exists, kept(system_text(file_exists)));
}

TEST(File, ArgumentsAreCheckedInOrderBeforeAnythingIsOpened) {
  temp_dir dir;
  std::string const name = dir.file("never.txt");
  std::string const unreachable = dir.file("no-folder") + "/never.txt";

  // The action first: its failure wins over bad other values and over a missing folder.
  raised const action = open_raise(name, 0, 9, 1);
  expect_invalid_parameter(action);
  for (int bad : {0, 6, -1, 100}) {
    raised const r = open_raise(unreachable, bad, qmgl_file::access_read, qmgl_file::deny_none);
    expect_invalid_parameter(r);
    EXPECT_EQ(r.line, action.line) << bad;
  }

  // Then the denied value, whatever the access.
  raised const denied = open_raise(name, qmgl_file::create_new, 9, 1);
  expect_invalid_parameter(denied);
  EXPECT_NE(denied.line, action.line);
  for (int bad : {1, 4, -1}) {
    raised const r = open_raise(unreachable, qmgl_file::create_new, qmgl_file::access_write, bad);
    expect_invalid_parameter(r);
    EXPECT_EQ(r.line, denied.line) << bad;
  }

  // Then the access.
  raised const access = open_raise(name, qmgl_file::create_new, 0, qmgl_file::deny_none);
  expect_invalid_parameter(access);
  EXPECT_NE(access.line, action.line);
  EXPECT_NE(access.line, denied.line);
  for (int bad : {4, -1}) {
    raised const r = open_raise(unreachable, qmgl_file::create_new, bad, qmgl_file::deny_write);
    expect_invalid_parameter(r);
    EXPECT_EQ(r.line, access.line) << bad;
  }

  EXPECT_FALSE(std::filesystem::exists(name)) << "nothing is created";
}

TEST(File, ReadWriteAndPosition) {
  temp_dir dir;
  std::string const name = dir.file("rw.txt");
  qmgl_file file(name.c_str(), qmgl_file::create_new, qmgl_file::access_read_write,
                 qmgl_file::deny_none);
  EXPECT_EQ(file.write("hello world", 11), 11u);
  EXPECT_EQ(file.seek(0, qmgl_file::seek_current), 11u);
  EXPECT_EQ(file.seek(6, qmgl_file::seek_begin), 6u);
  char text[16] = {};
  EXPECT_EQ(file.read(text, sizeof text), 5u);
  EXPECT_EQ(std::string(text, 5), "world");
  EXPECT_EQ(file.read(text, sizeof text), 0u) << "the end of the file";
  EXPECT_EQ(file.seek(-5, qmgl_file::seek_end), 6u);
  EXPECT_EQ(file.seek(-2, qmgl_file::seek_current), 4u);
  EXPECT_EQ(file.read(text, 3), 3u);
  EXPECT_EQ(std::string(text, 3), "o w");

  file.seek(0, qmgl_file::seek_begin);
  file.append();
  EXPECT_EQ(file.seek(0, qmgl_file::seek_current), 11u);
  EXPECT_EQ(file.write("!", 1), 1u);
  EXPECT_EQ(file_contents(name), "hello world!");

  file.truncate();
  EXPECT_EQ(file.seek(0, qmgl_file::seek_current), 0u);
  EXPECT_EQ(file.seek(0, qmgl_file::seek_end), 0u);
  EXPECT_EQ(file.write("ab", 2), 2u);
  EXPECT_EQ(file.write("", 0), 0u);
  EXPECT_NO_THROW(file.flush());
  EXPECT_EQ(file_contents(name), "ab");
}

TEST(File, PositionsAreThirtyTwoBits) {
  temp_dir dir;
  std::string const name = dir.file("far.txt");
  qmgl_file file(name.c_str(), qmgl_file::create_new, qmgl_file::access_read_write,
                 qmgl_file::deny_none);
  EXPECT_EQ(file.seek(0x7FFFFFFF, qmgl_file::seek_begin), 0x7FFFFFFFul);
  EXPECT_EQ(file.seek(0x7FFFFFFF, qmgl_file::seek_current), 0xFFFFFFFEul);
  // 0xFFFFFFFF is a position like any other, not a failure.
  EXPECT_EQ(file.seek(1, qmgl_file::seek_current), 0xFFFFFFFFul);
  EXPECT_EQ(file.seek(0, qmgl_file::seek_current), 0xFFFFFFFFul);

  raised const before_start = raise_of([&] { file.seek(-1, qmgl_file::seek_begin); });
  expect_system_error(before_start, negative_seek, kept(system_text(negative_seek)));
  EXPECT_EQ(file.seek(0, qmgl_file::seek_current), 0xFFFFFFFFul) << "the position stays";
  EXPECT_EQ(file.seek(0, qmgl_file::seek_end), 0u) << "seeking writes nothing";

  for (int bad : {3, -1})
    expect_invalid_parameter(
        raise_of([&] { file.seek(0, static_cast<qmgl_file::seek_indicator>(bad)); }));
}

TEST(File, TheHandleGrantsOnlyTheAccessAskedFor) {
  temp_dir dir;
  std::string const name = dir.file("access.txt");
  write_file(name, "data");
  qmgl_file reader(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                   qmgl_file::deny_none);
  expect_system_error(raise_of([&] { reader.write("x", 1); }), access_denied,
                      kept(system_text(access_denied)));
  expect_system_error(raise_of([&] { reader.flush(); }), access_denied,
                      kept(system_text(access_denied)));

  qmgl_file writer(name.c_str(), qmgl_file::open_existing, qmgl_file::access_write,
                   qmgl_file::deny_none);
  char byte = 0;
  expect_system_error(raise_of([&] { writer.read(&byte, 1); }), access_denied,
                      kept(system_text(access_denied)));
  EXPECT_NO_THROW(writer.flush());
  EXPECT_EQ(file_contents(name), "data");
}

TEST(File, ShareModesBetweenTwoOpeners) {
  struct opener {
    qmgl_file::access_requested_indicator access;
    qmgl_file::access_denied_indicator denied;
  };
  struct share_case {
    opener first;
    opener second;
    bool conflict;
  };
  using f = qmgl_file;
  share_case const cases[] = {
      {{f::access_read, f::deny_write}, {f::access_write, f::deny_none}, true},
      {{f::access_read, f::deny_write}, {f::access_read, f::deny_write}, false},
      {{f::access_read, f::deny_write}, {f::access_read, f::deny_none}, false},
      {{f::access_write, f::deny_write}, {f::access_read, f::deny_none}, false},
      {{f::access_write, f::deny_write}, {f::access_read, f::deny_write}, true},
      {{f::access_write, f::deny_write}, {f::access_write, f::deny_write}, true},
      {{f::access_read_write, f::deny_read_write}, {f::access_read, f::deny_none}, true},
      {{f::access_read, f::deny_none}, {f::access_read, f::deny_read_write}, true},
      {{f::access_read, f::deny_none}, {f::access_write, f::deny_none}, false},
      {{f::access_write, f::deny_none}, {f::access_write, f::deny_none}, false},
      {{f::access_write, f::deny_none}, {f::access_read, f::deny_write}, true},
      {{f::access_read_write, f::deny_none}, {f::access_read_write, f::deny_none}, false},
  };
  temp_dir dir;
  std::string const name = dir.file("shared.txt");
  write_file(name, "shared");
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::Message() << "first " << c.first.access << "/" << c.first.denied
                                    << ", second " << c.second.access << "/" << c.second.denied);
    {
      qmgl_file first(name.c_str(), f::open_existing, c.first.access, c.first.denied);
      raised const second = open_raise(name, f::open_existing, c.second.access, c.second.denied);
      if (c.conflict)
        expect_system_error(second, sharing_violation, kept(system_text(sharing_violation)));
      else
        EXPECT_FALSE(second.thrown);
    }
    EXPECT_FALSE(open_raise(name, f::open_existing, c.second.access, c.second.denied).thrown)
        << "the share mode ends with its opener";
  }
}

TEST(File, EmptyingAFileCountsAsWritingIt) {
  temp_dir dir;
  std::string const name = dir.file("keep.txt");
  write_file(name, "keep");
  qmgl_file reader(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                   qmgl_file::deny_write);
  for (int action : {qmgl_file::create_or_truncate, qmgl_file::truncate_existing})
    expect_system_error(open_raise(name, action, qmgl_file::access_write, qmgl_file::deny_none),
                        sharing_violation, kept(system_text(sharing_violation)));
  EXPECT_EQ(file_contents(name), "keep");
}

TEST(File, CopiesShareTheOpenFile) {
  temp_dir dir;
  std::string const name = dir.file("copies.txt");
  std::optional<qmgl_file> original;
  original.emplace(name.c_str(), qmgl_file::create_new, qmgl_file::access_read_write,
                   qmgl_file::deny_write);
  original->write("abc", 3);
  std::optional<qmgl_file> copy;
  copy.emplace(*original);
  EXPECT_EQ(copy->seek(0, qmgl_file::seek_current), 3u) << "one position for both";
  copy->write("d", 1);
  EXPECT_EQ(original->seek(0, qmgl_file::seek_current), 4u);

  // Each closes only its own handle; the copy keeps the file and its share mode.
  original.reset();
  EXPECT_EQ(copy->write("e", 1), 1u);
  expect_system_error(
      open_raise(name, qmgl_file::open_existing, qmgl_file::access_write, qmgl_file::deny_none),
      sharing_violation, kept(system_text(sharing_violation)));
  copy.reset();
  EXPECT_FALSE(
      open_raise(name, qmgl_file::open_existing, qmgl_file::access_write, qmgl_file::deny_none)
          .thrown);
  EXPECT_EQ(file_contents(name), "abcde");
}

TEST(File, LastModificationTime) {
  temp_dir dir;
  std::string const name = dir.file("time.txt");
  write_file(name, "first");
  qmgl_file::timestamp const first = modified(name);

  // A Windows file time: 100-nanosecond ticks since 1601, so close to the clock's time now.
  constexpr std::int64_t seconds_from_1601_to_1970 = 11644473600;
  auto const file_seconds =
      static_cast<std::int64_t>(ticks(first) / 10000000) - seconds_from_1601_to_1970;
  auto const now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  EXPECT_LT(std::abs(now - file_seconds), 600) << ticks(first);

  // A copy keeps the time.
  std::string const copy = dir.file("copy.txt");
  qmgl_file::copy(name.c_str(), copy.c_str());
  EXPECT_EQ(modified(copy), first);

  // Writing again moves it forward, once the file system's clock has moved on.
  qmgl_file::timestamp later = first;
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (later == first && std::chrono::steady_clock::now() < deadline) {
    write_file(name, "second");
    later = modified(name);
  }
  EXPECT_GT(later, first);
  EXPECT_LT(first, later);
  EXPECT_GT(ticks(later), ticks(first));
}

TEST(File, TimestampsOrderByTheHighHalfFirst) {
  using ts = qmgl_file::timestamp;
  EXPECT_LT((ts{0xFFFFFFFF, 1}), (ts{0, 2}));
  EXPECT_LT((ts{1, 5}), (ts{2, 5}));
  EXPECT_GT((ts{0, 3}), (ts{0xFFFFFFFF, 2}));
  EXPECT_EQ((ts{7, 9}), (ts{7, 9}));
  EXPECT_NE((ts{7, 9}), (ts{9, 7}));
  EXPECT_LE((ts{7, 9}), (ts{7, 9}));
}

TEST(File, CopyFiles) {
  temp_dir dir;
  std::string const first = dir.file("first.txt");
  std::string const second = dir.file("second.txt");
  std::string const fresh = dir.file("fresh.txt");
  std::string const missing = dir.file("missing.txt");
  write_file(first, "first");
  write_file(second, "second");

  expect_system_error(raise_of([&] { qmgl_file::copy(first.c_str(), second.c_str()); }),
                      file_exists, about(file_exists, first));
  EXPECT_EQ(file_contents(second), "second");
  qmgl_file::copy(first.c_str(), second.c_str(), qmgl_file::force);
  EXPECT_EQ(file_contents(second), "first");
  qmgl_file::copy(first.c_str(), fresh.c_str());
  EXPECT_EQ(file_contents(fresh), "first");
  expect_system_error(raise_of([&] { qmgl_file::copy(missing.c_str(), fresh.c_str()); }),
                      file_not_found, about(file_not_found, missing));
  // Onto itself: the source, open for reading, denies the writer.
  expect_system_error(
      raise_of([&] { qmgl_file::copy(first.c_str(), first.c_str(), qmgl_file::force); }),
      sharing_violation, about(sharing_violation, first));
  EXPECT_EQ(file_contents(first), "first");
}

TEST(File, RenameFiles) {
  temp_dir dir;
  std::string const from = dir.file("from.txt");
  std::string const to = dir.file("to.txt");
  std::string const elsewhere = dir.file("elsewhere.txt");
  std::string const missing = dir.file("missing.txt");
  std::string const unreachable = dir.file("no-folder") + "/to.txt";
  write_file(from, "from");
  write_file(to, "to");

  expect_system_error(raise_of([&] { qmgl_file::rename(from.c_str(), to.c_str()); }),
                      already_exists, about(already_exists, from));
  EXPECT_EQ(file_contents(from), "from");
  EXPECT_EQ(file_contents(to), "to");

  qmgl_file::rename(from.c_str(), to.c_str(), qmgl_file::force);
  EXPECT_FALSE(std::filesystem::exists(from));
  EXPECT_EQ(file_contents(to), "from");

  qmgl_file::rename(to.c_str(), elsewhere.c_str());
  EXPECT_FALSE(std::filesystem::exists(to));
  EXPECT_EQ(file_contents(elsewhere), "from");
  qmgl_file::rename(elsewhere.c_str(), to.c_str(), qmgl_file::force);
  EXPECT_EQ(file_contents(to), "from") << "force with no file to replace";

  expect_system_error(raise_of([&] { qmgl_file::rename(missing.c_str(), from.c_str()); }),
                      file_not_found, about(file_not_found, missing));
  expect_system_error(raise_of([&] { qmgl_file::rename(to.c_str(), unreachable.c_str()); }),
                      path_not_found, about(path_not_found, to));
  EXPECT_EQ(file_contents(to), "from");

  // A forced rename that fails, or that names one file twice, keeps the target.
  expect_system_error(
      raise_of([&] { qmgl_file::rename(missing.c_str(), to.c_str(), qmgl_file::force); }),
      file_not_found, about(file_not_found, missing));
  EXPECT_EQ(file_contents(to), "from");
  std::string const same = (dir.path() / "." / "to.txt").string();
  EXPECT_FALSE(
      raise_of([&] { qmgl_file::rename(to.c_str(), same.c_str(), qmgl_file::force); }).thrown);
  EXPECT_EQ(file_contents(to), "from");
  std::string const upper = dir.file("TO.txt");
  qmgl_file::rename(to.c_str(), upper.c_str(), qmgl_file::force);
  EXPECT_EQ(file_contents(upper), "from") << "a change of case alone (one file on Windows)";
}

// None of the share modes allows deletion: while a handle holds a file, it can be neither
// removed, nor renamed, nor replaced.
TEST(File, AFileHeldOpenCannotBeRemovedRenamedOrReplaced) {
  temp_dir dir;
  std::string const held = dir.file("held.txt");
  std::string const other = dir.file("other.txt");
  std::string const fresh = dir.file("fresh.txt");
  write_file(held, "held");
  write_file(other, "other");
  using f = qmgl_file;
  for (auto [access, denied] :
       {std::pair{f::access_read, f::deny_none}, std::pair{f::access_write, f::deny_write},
        std::pair{f::access_read_write, f::deny_read_write}}) {
    SCOPED_TRACE(testing::Message() << "held with " << access << "/" << denied);
    qmgl_file file(held.c_str(), f::open_existing, access, denied);
    expect_system_error(raise_of([&] { f::remove(held.c_str()); }), sharing_violation,
                        about(sharing_violation, held));
    expect_system_error(raise_of([&] { f::rename(held.c_str(), fresh.c_str()); }),
                        sharing_violation, about(sharing_violation, held));
    expect_system_error(raise_of([&] { f::rename(held.c_str(), other.c_str(), f::force); }),
                        sharing_violation, about(sharing_violation, held));
    expect_system_error(raise_of([&] { f::rename(other.c_str(), held.c_str(), f::force); }),
                        access_denied, about(access_denied, other));
    expect_system_error(raise_of([&] { f::rename(other.c_str(), held.c_str()); }), already_exists,
                        about(already_exists, other));
  }
  EXPECT_EQ(file_contents(held), "held");
  EXPECT_EQ(file_contents(other), "other");
  EXPECT_FALSE(std::filesystem::exists(fresh));

  f::rename(other.c_str(), held.c_str(), f::force);
  EXPECT_EQ(file_contents(held), "other") << "free once closed";
  f::remove(held.c_str());
  EXPECT_FALSE(std::filesystem::exists(held));
}

TEST(File, RemoveFiles) {
  temp_dir dir;
  std::string const name = dir.file("gone.txt");
  std::string const unreachable = dir.file("no-folder") + "/gone.txt";
  std::string const folder = dir.file("folder");
  std::filesystem::create_directory(folder);
  write_file(name, "x");

  qmgl_file::remove(name.c_str());
  EXPECT_FALSE(std::filesystem::exists(name));
  expect_system_error(raise_of([&] { qmgl_file::remove(name.c_str()); }), file_not_found,
                      about(file_not_found, name));
  expect_system_error(raise_of([&] { qmgl_file::remove(unreachable.c_str()); }), path_not_found,
                      about(path_not_found, unreachable));
  expect_system_error(raise_of([&] { qmgl_file::remove(folder.c_str()); }), access_denied,
                      about(access_denied, folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(File, Exists) {
  temp_dir dir;
  std::string const name = dir.file("here.txt");
  write_file(name, "x");
  EXPECT_TRUE(qmgl_file::exists(name.c_str()));
  EXPECT_TRUE(qmgl_file::exists(dir.path().string().c_str())) << "folders count";
  EXPECT_FALSE(qmgl_file::exists(dir.file("missing.txt").c_str()));
  EXPECT_FALSE(qmgl_file::exists((dir.file("no-folder") + "/x.txt").c_str()));
  EXPECT_FALSE(qmgl_file::exists((name + "/x.txt").c_str())) << "a path through a file";
  EXPECT_FALSE(qmgl_file::exists(""));

  // Other errors are raised, with the system's text alone.
  std::string const too_long = dir.file(std::string(300, 'n'));
  expect_system_error(raise_of([&] { qmgl_file::exists(too_long.c_str()); }), filename_exced_range,
                      kept(system_text(filename_exced_range)));
}

TEST(File, CanonizeGivesTheLowerCaseFullPath) {
  std::string const relative(qmgl_file::canonize("Sub/../Name.TXT"));
  EXPECT_EQ(relative, lower((std::filesystem::current_path() / "name.txt").string()));

  temp_dir dir;
  std::string const absolute(qmgl_file::canonize((dir.file("A") + "/./B/../C.Txt").c_str()));
  EXPECT_EQ(absolute, lower((dir.path() / "A" / "C.Txt").string()));

  for (char const* nothing : {"", static_cast<char const*>(nullptr)}) {
    raised const r = raise_of([&] { qmgl_file::canonize(nothing); });
    EXPECT_EQ(r.type, typeid(exc_assertion_failed_t));
    EXPECT_EQ(r.message, "assertion failed: length2 == length - 1");
    EXPECT_STREQ(r.file, file_raiser);
  }
}

TEST(File, StandardHandlesAreMadeOnce) {
  qmgl_file& output = qmgl_file::std_output();
  EXPECT_EQ(&output, &qmgl_file::std_output());
  EXPECT_EQ(&qmgl_file::std_error(), &qmgl_file::std_error());
  EXPECT_EQ(&qmgl_file::std_input(), &qmgl_file::std_input());
  EXPECT_NE(&output, &qmgl_file::std_error());
  EXPECT_EQ(output.write("", 0), 0u) << "the handle is usable";
}

TEST(File, OperationsAreTraced) {
  constexpr std::uint32_t mask = 0x800 | 0x1000 | 0x10000 | 0x40000;
  temp_dir dir;
  std::string const name = dir.file("traced.txt");
  std::vector<captured_record> records;
  std::uint64_t object = 0;
  {
    trace_capture capture(mask);
    {
      qmgl_file file(name.c_str(), qmgl_file::create_new, qmgl_file::access_read_write,
                     qmgl_file::deny_none);
      object = object_word(&file);
      file.write("abc", 3);
      file.seek(1, qmgl_file::seek_begin);
      char text[4];
      file.read(text, 4);
      file.append();
      file.truncate();
      file.flush();
    }
    records = capture.take();
  }
  auto entered = [&](std::uint32_t tp, std::string text) {
    return text_record(0x06200000, tp, object, std::move(text));
  };
  auto entered_plain = [&](std::uint32_t tp) { return plain_record(0x06200000, tp, object); };
  auto left = [&](std::uint32_t tp) { return value_record(0x06210000, tp, object, 0); };
  std::vector<captured_record> const expected = {
      text_record(0x061E0000, 0x141A0000, object, name + ", 1, 3, 0"),
      entered(0x141A1000, "3"),
      left(0x141A1000),
      entered(0x141A0B00, "1, 0"),
      left(0x141A0B00),
      entered(0x141A0800, "4"),
      left(0x141A0800),
      entered_plain(0x141A0100),
      entered(0x141A0B00, "0, 2"),
      left(0x141A0B00),
      left(0x141A0100),
      entered_plain(0x141A0F00),
      entered(0x141A0B00, "0, 0"),
      left(0x141A0B00),
      left(0x141A0F00),
      entered_plain(0x141A0600),
      left(0x141A0600),
      plain_record(0x061F0000, 0x141A0000, object),
  };
  EXPECT_EQ(records, expected);
}

TEST(File, CopyingTracesTheDuplication) {
  temp_dir dir;
  std::string const name = dir.file("copied.txt");
  qmgl_file original(name.c_str(), qmgl_file::create_new, qmgl_file::access_write,
                     qmgl_file::deny_none);
  std::vector<captured_record> records;
  std::uint64_t object = 0;
  {
    trace_capture capture(0x800 | 0x10000 | 0x40000);
    {
      qmgl_file copy(original);
      object = object_word(&copy);
    }
    records = capture.take();
  }
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0],
            text_record(0x061E0000, 0x141A0000, object, "file " + position_text(&original)));
  // The handles' values belong to the system; the records name the original's, then the new.
  EXPECT_EQ(records[1].kind, 0x062A0000u);
  EXPECT_EQ(records[1].tracepoint, 0x141A0400u);
  EXPECT_EQ(records[1].object, 0u);
  EXPECT_EQ(records[2].kind, 0x062C0000u);
  EXPECT_EQ(records[2].tracepoint, 0x141A0400u);
  EXPECT_EQ(records[2].object, 0u);
  EXPECT_EQ(records[2].data.rfind("new_handle ", 0), 0u) << records[2].data;
  EXPECT_NE(records[2].data, "new_handle " + records[1].data);
  EXPECT_EQ(records[3], value_record(0x062B0000, 0x141A0400, std::uint64_t{0}, 0));
  EXPECT_EQ(records[4], plain_record(0x061F0000, 0x141A0000, object));
}
