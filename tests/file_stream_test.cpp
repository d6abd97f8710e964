// qmgl_output_file and qmgl_input_file: modes, one write per flush, failures that keep the
// characters, the destructor's flush, reads of 512 bytes, the end character, and the standard
// streams.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
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

constexpr std::uint32_t file_not_found = 2;
constexpr std::uint32_t access_denied = 5;
constexpr std::uint32_t sharing_violation = 32;

std::string last_block(qmgl_output_buffer_mixin const& out) {
  if (out.get_last_output_buffer() == nullptr) return {};
  return {out.get_last_output_buffer(),
          static_cast<std::size_t>(out.get_last_output_buffer_length())};
}

qmgl_output_file::mode_indicator mode(int value) {
  return static_cast<qmgl_output_file::mode_indicator>(value);
}

void expect_invalid_mode(raised const& r) {
  EXPECT_EQ(r.type, typeid(exc_invalid_parameter_t));
  EXPECT_EQ(r.code, 0x20000000u);
  EXPECT_EQ(r.message, "exc_invalid_parameter");
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_output");
}

// The records written for a member object, whose address the test cannot name: the same
// object word in every record, and the records as expected apart from it.
void expect_records_of_one_object(std::vector<captured_record> records,
                                  std::vector<captured_record> const& expected) {
  ASSERT_FALSE(records.empty());
  std::uint64_t const object = records.front().object;
  EXPECT_NE(object, 0u);
  for (auto& r : records) {
    EXPECT_EQ(r.object, object);
    r.object = 0;
  }
  EXPECT_EQ(records, expected);
}

captured_record entered(std::uint32_t tracepoint, std::string text) {
  return text_record(0x06200000, tracepoint, std::uint64_t{0}, std::move(text));
}

captured_record left(std::uint32_t tracepoint) {
  return value_record(0x06210000, tracepoint, std::uint64_t{0}, 0);
}

constexpr std::uint32_t file_read = 0x141A0800;
constexpr std::uint32_t file_write = 0x141A1000;
constexpr std::uint32_t file_flush = 0x141A0600;

// An input file that reads a block when asked and shows, through the one reference it takes
// of its buffer, how many bytes wait there.
struct buffer_probe : qmgl_input_file {
  using qmgl_input_file::qmgl_input_file;
  void read_block() { fill_buffer(); }
  std::size_t waiting() const { return buffer.size(); }

  std::string const& buffer = get_input_buffer();
};

}  // namespace

TEST(FileStream, NamedOutputTruncatesOrAppends) {
  temp_dir dir;
  std::string const name = dir.file("out.txt");
  {
    qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
    out << "abc";
    EXPECT_EQ(file_contents(name), "") << "nothing reaches the file before a flush";
  }
  EXPECT_EQ(file_contents(name), "abc");
  {
    qmgl_output_file out(name.c_str(), qmgl_output_file::append);
    out << "abc";
  }
  EXPECT_EQ(file_contents(name), "abcabc");
  {
    qmgl_output_file out(qmgl_ntarray_of<char, 0>(name.c_str()), qmgl_output_file::truncate);
    out << "x";
  }
  EXPECT_EQ(file_contents(name), "x");
}

TEST(FileStream, NamedOutputDeniesOtherWriters) {
  temp_dir dir;
  std::string const name = dir.file("out.txt");
  qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
  raised const second =
      raise_of([&] { qmgl_output_file again(name.c_str(), qmgl_output_file::append); });
  EXPECT_EQ(second.type, typeid(exc_unmapped_t));
  EXPECT_EQ(second.code, sharing_violation);
  EXPECT_STREQ(second.file, "src/qmgl/qmgl_file");

  EXPECT_EQ(raise_of([&] { qmgl_input_file in(name.c_str(), qmgl_file::deny_write); }).code,
            sharing_violation)
      << "a reader that denies writing cannot join a writer";
  EXPECT_FALSE(raise_of([&] { qmgl_input_file in(name.c_str(), qmgl_file::deny_none); }).thrown);
}

TEST(FileStream, NamedOutputTakesOnlyTruncateOrAppend) {
  temp_dir dir;
  std::string const name = dir.file("never.txt");
  for (int bad : {2, 3, -1}) {
    expect_invalid_mode(raise_of([&] { qmgl_output_file out(name.c_str(), mode(bad)); }));
    expect_invalid_mode(
        raise_of([&] { qmgl_output_file out(qmgl_ntarray_of<char, 0>(name.c_str()), mode(bad)); }));
  }
  EXPECT_FALSE(std::filesystem::exists(name)) << "the mode is checked before the file is touched";
}

TEST(FileStream, ModesOnAGivenFile) {
  temp_dir dir;
  std::string const name = dir.file("given.txt");
  write_file(name, "abcdef");
  qmgl_file file(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read_write,
                 qmgl_file::deny_none);
  file.seek(2, qmgl_file::seek_begin);
  {
    qmgl_output_file out(file, qmgl_output_file::keep_position);
    out << "XY";
  }
  EXPECT_EQ(file_contents(name), "abXYef");
  {
    qmgl_output_file out(file, qmgl_output_file::append);
    out << "!";
  }
  EXPECT_EQ(file_contents(name), "abXYef!");
  {
    qmgl_output_file out(file, qmgl_output_file::truncate);
    out << "new";
  }
  EXPECT_EQ(file_contents(name), "new");
  for (int bad : {3, -1})
    expect_invalid_mode(raise_of([&] { qmgl_output_file out(file, mode(bad)); }));

  // The stream had a handle of its own: the caller's is still open.
  file.seek(0, qmgl_file::seek_begin);
  char text[4] = {};
  EXPECT_EQ(file.read(text, 3), 3u);
  EXPECT_EQ(std::string(text), "new");
}

TEST(FileStream, OneWritePerFlush) {
  temp_dir dir;
  std::string const name = dir.file("blocks.txt");
  qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
  trace_capture capture(0x1000);
  out.put_chars('x', 5000);
  out << "yz";
  EXPECT_TRUE(capture.take().empty()) << "writing only collects";
  out.flush();
  expect_records_of_one_object(capture.take(), {entered(file_write, "5002"), left(file_write)});
  EXPECT_EQ(file_contents(name).size(), 5002u);
  out.flush();
  EXPECT_TRUE(capture.take().empty()) << "nothing pending, nothing written";

  out << "!";
  out.flush_to_disk();
  expect_records_of_one_object(
      capture.take(), {entered(file_write, "1"), left(file_write),
                       plain_record(0x06200000, file_flush, std::uint64_t{0}), left(file_flush)});
  EXPECT_EQ(file_contents(name), std::string(5000, 'x') + "yz!");
}

TEST(FileStream, FailedWritesKeepTheCharacters) {
  temp_dir dir;
  std::string const name = dir.file("readonly.txt");
  write_file(name, "old");
  qmgl_file reader(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                   qmgl_file::deny_none);
  std::optional<qmgl_output_file> out;
  out.emplace(reader, qmgl_output_file::keep_position);
  *out << "abc";
  for (int attempt = 0; attempt < 2; ++attempt) {
    raised const r = raise_of([&] { out->flush(); });
    EXPECT_EQ(r.type, typeid(exc_unmapped_t));
    EXPECT_EQ(r.code, access_denied);
    EXPECT_EQ(r.message, system_text(access_denied).substr(0, 159));
    EXPECT_EQ(out->get_output_buffer_length(), 3) << "the block stays for the next flush";
  }
  EXPECT_EQ(raise_of([&] { out->flush_to_disk(); }).code, access_denied);

  // The destructor cannot raise: it reports what it lost.
  trace_capture capture(0x8);
  std::uint64_t const object = object_word(&*out);
  out.reset();
  std::vector<captured_record> const expected = {text_record(
      0x06040000, 0x141C0000, object,
      "flush at destruction failed, 3 characters lost: 5 " + system_text(access_denied))};
  EXPECT_EQ(capture.take(), expected);
  EXPECT_EQ(file_contents(name), "old");
}

TEST(FileStream, DestructorSwallowsItsFailureDuringUnwinding) {
  temp_dir dir;
  std::string const name = dir.file("readonly.txt");
  write_file(name, "old");
  qmgl_file reader(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                   qmgl_file::deny_none);
  bool caught = false;
  try {
    qmgl_output_file out(reader, qmgl_output_file::keep_position);
    out << "lost";
    throw std::runtime_error("unwinding");
  } catch (std::runtime_error const&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
}

TEST(FileStream, OutputFileLifetimeRecords) {
  temp_dir dir;
  std::string const name = dir.file("life.txt");
  std::vector<captured_record> records;
  std::uintptr_t begin = 0;
  {
    trace_capture capture(0x800);
    {
      qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
      begin = reinterpret_cast<std::uintptr_t>(&out);
    }
    records = capture.take();
  }
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], plain_record(0x061E0000, 0x141C0000, std::uint64_t{begin}));
  EXPECT_EQ(records[3], plain_record(0x061F0000, 0x141C0000, std::uint64_t{begin}));
  // Between them the records of the stream's own file, a part of the stream object.
  std::uint64_t const member = records[1].object;
  EXPECT_GE(member, begin);
  EXPECT_LT(member, begin + sizeof(qmgl_output_file));
  EXPECT_EQ(records[1], text_record(0x061E0000, 0x141A0000, member, name + ", 5, 2, 2"));
  EXPECT_EQ(records[2], plain_record(0x061F0000, 0x141A0000, member));
}

TEST(FileStream, InputReadsBlocksOf512Bytes) {
  temp_dir dir;
  std::string const name = dir.file("in.bin");
  std::string data;
  for (int i = 0; i < 1000; ++i)
    data += static_cast<char>('a' + i % 26);
  write_file(name, data);

  buffer_probe in(name.c_str(), qmgl_file::deny_write);
  trace_capture capture(0x1000);
  in.read_block();
  EXPECT_EQ(in.waiting(), 512u) << "the first read took 512 bytes";
  expect_records_of_one_object(capture.take(), {entered(file_read, "512"), left(file_read)});
  std::string read;
  read += in.get_char();
  EXPECT_EQ(in.waiting(), 511u);
  while (read.size() < 512)
    read += in.get_char();
  EXPECT_TRUE(capture.take().empty()) << "no read while the block lasts";
  read += in.get_char();
  EXPECT_EQ(in.waiting(), 487u) << "the second read took the 488 bytes left";
  while (read.size() < 1000)
    read += in.get_char();
  EXPECT_EQ(read, data);
  expect_records_of_one_object(capture.take(), {entered(file_read, "512"), left(file_read)});

  raised const end = raise_of([&] { in.get_char(); });
  EXPECT_EQ(end.type, typeid(exc_end_of_input_t));
  EXPECT_EQ(end.message, "exc_end_of_input");
  EXPECT_STREQ(end.file, "src/qmgl/qmgl_input");
  EXPECT_TRUE(in.empty());
  expect_records_of_one_object(capture.take(), {entered(file_read, "512"), left(file_read)});
}

TEST(FileStream, InputEndsInFFNotNul) {
  temp_dir dir;
  std::string const name = dir.file("ends.bin");
  write_file(name, std::string("a\xff"
                               "b\0c",
                               5));
  qmgl_input_file in(name.c_str(), qmgl_file::deny_none);
  EXPECT_TRUE(in.throw_on_eoi(false));
  EXPECT_EQ(in.get_char(), 'a');
  EXPECT_EQ(in.get_char(), '\xff');
  EXPECT_FALSE(in.empty()) << "a 0xFF byte in the file is data";
  EXPECT_EQ(in.get_char(), 'b');
  EXPECT_EQ(in.get_char(), '\0');
  EXPECT_TRUE(in.empty()) << "a NUL sets the end flag, as on every source";
  EXPECT_EQ(in.get_char(), 'c');
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(in.get_char(), '\xff') << "past the end, again and again";
    EXPECT_TRUE(in.empty());
  }
  EXPECT_FALSE(in.is_interactive());
}

TEST(FileStream, InputFromAGivenFile) {
  temp_dir dir;
  std::string const name = dir.file("given.txt");
  write_file(name, "abcdef");
  std::optional<qmgl_file> file;
  file.emplace(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
               qmgl_file::deny_none);
  file->seek(2, qmgl_file::seek_begin);
  qmgl_input_file in(*file);
  file.reset();
  EXPECT_EQ(in.get_char(), 'c') << "from the file's position, through a handle of its own";
  EXPECT_EQ(in.get_char(), 'd');

  raised const missing =
      raise_of([&] { qmgl_input_file none(dir.file("none").c_str(), qmgl_file::deny_none); });
  EXPECT_EQ(missing.type, typeid(exc_unmapped_t));
  EXPECT_EQ(missing.code, file_not_found);
}

TEST(FileStream, StandardStreamsAreMadeOnce) {
  qmgl_output_file& error = qmgl_output_file::std_error();
  EXPECT_EQ(&error, &qmgl_output_file::std_error());
  EXPECT_EQ(&qmgl_output_file::std_output(), &qmgl_output_file::std_output());
  EXPECT_NE(&error, &qmgl_output_file::std_output());
  EXPECT_EQ(&qmgl_input_file::std_input(), &qmgl_input_file::std_input());
  EXPECT_FALSE(qmgl_input_file::std_input().is_interactive());

  error << "\r\n";
  EXPECT_NO_THROW(error.flush());
  EXPECT_EQ(last_block(error), "\r\n");
  EXPECT_EQ(error.get_output_buffer_length(), 0);
}
