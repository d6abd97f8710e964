#include <climits>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

#include "support/raised.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"
#include "support/value_helpers.h"

using namespace std::string_literals;

namespace {

// A buffered sink whose next delivery can be made to fail; it notes its state during each.
struct block_sink : qmgl_output_imp, qmgl_output_buffer_mixin {
  std::vector<std::string> deliveries;
  bool fail_next = false;

  void flush() override { flush_buffer(); }
  using qmgl_output_buffer_mixin::leave_spare_memory;
  using qmgl_output_buffer_mixin::put_buffered_chars;
  using qmgl_output_buffer_mixin::take_spare_memory;

  // "PENDING|LAST CAPACITY", the last block "-" before the first.
  std::string state() const {
    char const* const last = get_last_output_buffer();
    return std::string(get_output_buffer(), get_output_buffer_length()) + "|" +
           (last ? std::string(last, get_last_output_buffer_length()) : "-") + " " +
           std::to_string(get_output_buffer_capacity());
  }

 private:
  void really_put_char(char c) override { put_buffered_char(c); }
  void really_flush_buffer(char const* data, int length) override {
    if (fail_next) throw std::runtime_error("delivery failed");
    deliveries.push_back(std::string(data, length) + "=" + state());
  }
};

// A buffered source whose fills add the given blocks in turn, and then nothing.
struct block_source : qmgl_input_imp, qmgl_input_buffer_mixin {
  explicit block_source(std::vector<std::string> blocks, char end_char = '\0')
      : blocks_(std::move(blocks)), end_char_(end_char) {}
  std::size_t fills = 0;

  using qmgl_input_buffer_mixin::add_data;
  using qmgl_input_buffer_mixin::get_buffered_char;
  using qmgl_input_buffer_mixin::get_buffered_chars;
  using qmgl_input_buffer_mixin::get_input_buffer;

 private:
  void fill_buffer() override {
    if (++fills > blocks_.size() + 10) throw std::runtime_error("read loop does not end");
    if (fills <= blocks_.size()) add_data(blocks_[fills - 1]);
  }
  char really_get_char() override {
    int const c = get_buffered_char();
    return c == -1 ? end_of_source(end_char_) : static_cast<char>(c);
  }
  std::vector<std::string> blocks_;
  char end_char_;
};

// An input file that reads a block when asked and shows, through the one reference it takes of
// it, what its buffer holds.
struct buffer_probe : qmgl_input_file {
  using qmgl_input_file::qmgl_input_file;
  void read_block() { fill_buffer(); }
  std::string const& buffer = get_input_buffer();
};

// n reads: each character ('$' a NUL, '#' 0xFF), then '|' when the input is at its end.
std::string reads(qmgl_input& in, int n) {
  std::string seen;
  for (int i = 0; i < n; ++i) {
    char const c = in.get_char();
    seen += c == '\0' ? '$' : c == '\xff' ? '#' : c;
    if (in.empty()) seen += '|';
  }
  return seen;
}

// What a call raised: "none", or "CODE MESSAGE @FILE" without an exc_unmapped_t's text.
std::string failure(raised const& r) {
  if (!r.thrown) return "none";
  bool const unmapped = r.type == typeid(exc_unmapped_t);
  return std::to_string(r.code) + (unmapped ? " unmapped" : " " + r.message) + " @" + r.file;
}

std::string const end_of_input = "537067555 exc_end_of_input @src/qmgl/qmgl_input";
std::string const invalid_mode = "536870912 exc_invalid_parameter @src/qmgl/qmgl_output";

using mode = qmgl_output_file::mode_indicator;

void write_through(qmgl_output_file&& out, char const* text) {
  out << text;
}

}  // namespace

TEST(OutputStream, NumbersHexTextsAndQuotedStrings) {
  auto const written = [](auto value) {
    text_sink sink;
    sink << value;
    return sink.text;
  };
  std::mt19937 pick(20261205);
  std::vector<std::uint32_t> values = {0, 9, 10, INT_MAX, 0x80000000u, 0xFFFFFFFBu, UINT_MAX};
  for (int i = 0; i < 20000; ++i)
    values.push_back(pick() >> (pick() % 32));  // all magnitudes
  for (std::uint32_t const u : values) {
    auto const s = static_cast<std::int32_t>(u);
    std::string const d = std::to_string(s), n = std::to_string(u);
    ASSERT_EQ(written(static_cast<int>(s)) + written(static_cast<long>(s)) + written(u) +
                  written(static_cast<unsigned long>(u)) + std::to_string(qmgl_output_length(s)),
              d + "  " + d + "  " + n + "  " + n + " " + std::to_string(d.size()));
  }

  using text = qmgl_ntarray_of<char, 0>;
  text const its("it's"), none, plain("plain"), many("''\"''");
  text_sink out;
  out << qmgl_hex(255) << qmgl_hex(0) << qmgl_hex(0xDEADBEEF) << 'x' << text("|");
  out << qmgl_str_quoted(its, '\'') << qmgl_str_quoted(none, '\'') << qmgl_str_quoted(plain, '"');
  out << qmgl_str_quoted(many, '\'') << qmgl_str_quoted(many, '"');
  EXPECT_EQ(out.text,
            "0x000000ff 0x00000000 0xdeadbeef x|'it''s' '' \"plain\" '''''\"''''' \"''\"\"''\" ");
}

// An echo shows a NUL as a line end, but passes put_chars on unchanged. A string sink appends in
// place; earlier copies of the string keep their text.
TEST(OutputStream, EchoesAndStringSinks) {
  text_sink first, second, third, other;
  qmgl_output_black_hole hole;
  first.echo_to(second);
  second.echo_to(third);
  first << "ab" << '\0';
  first.put_chars('\0', 2);
  first.put_chars('z', 0);
  first.echo_to(other);  // replaces the earlier target
  hole << "lost";
  hole.echo_to(first);
  hole << -7 << '\0';  // a black hole discards, but echoes
  hole.flush();
  EXPECT_EQ(first.text + "|" + second.text + "|" + third.text + "|" + other.text,
            "ab\0\0\0-7  \r\n|ab\r\n\0\0|ab\r\n\0\0|-7  \r\n"s);

  qmgl_ntarray_of<char, 0> text("ab");
  qmgl_output_str out(text);
  qmgl_ntarray_of<char, 0> const before = text;
  out << 'c';
  qmgl_ntarray_of<char, 0> const middle = text;
  out << -1 << "xyz";
  qmgl_output_str copy(out);  // writes to the same string
  copy << '!';
  EXPECT_EQ(std::string(text) + "|" + std::string(middle) + "|" + std::string(before),
            "abc-1  xyz!|abc|ab");
}

// The capacity is 1024 + k * 16384 after k steps, for a block as for characters (next test). A
// delivered block is pending and last during delivery; a failed one stays pending, last a copy.
TEST(OutputStream, BufferGrowsInFixedStepsAndFlushesOneBlock) {
  struct {
    std::size_t length;  // after "ab"
    int capacity;
  } const cases[] = {{0, 1024},      {1022, 1024},   {1023, 17408},
                     {17406, 17408}, {17407, 33792}, {1000000, 1000448}};
  for (auto const& c : cases) {
    SCOPED_TRACE(c.length);
    std::string block(c.length, ' ');
    for (std::size_t i = 0; i < c.length; ++i)
      block[i] = static_cast<char>(1 + i % 251);
    block_sink by_block;
    by_block << "ab";
    by_block.put_buffered_chars(block.data(), block.size());
    std::string const sent = "ab" + block, capacity = " " + std::to_string(c.capacity);
    EXPECT_EQ(by_block.state(), sent + "|-" + capacity) << "nothing leaves before a flush";
    by_block.flush();
    by_block.flush();
    EXPECT_EQ(by_block.deliveries,
              std::vector<std::string>{sent + "=" + sent + "|" + sent + capacity});
    EXPECT_EQ(by_block.state(), "|" + sent + capacity) << "the capacity is kept";
  }

  block_sink sink;
  sink << "kept";
  char const byte = 'x';
  // The length alone is checked: nothing is read from the (one-byte) data.
  EXPECT_THROW(sink.put_buffered_chars(&byte, std::size_t{INT_MAX}), exc_not_enough_memory_t);
  sink.fail_next = true;
  EXPECT_THROW(sink.flush(), std::runtime_error);
  sink.fail_next = false;
  sink << '!';
  EXPECT_EQ(sink.state(), "kept!|kept 1024");
  sink.flush();
  EXPECT_EQ(sink.deliveries, std::vector<std::string>{"kept!=kept!|kept! 1024"});
}

TEST(OutputStream, SpareMemoryPassesToTheNextSinkUnseen) {
  qmgl_output_buffer_spare spare;
  std::string const text(100000, 's');
  auto first = std::make_unique<block_sink>();
  first->take_spare_memory(spare);  // nothing kept yet
  *first << text.c_str();
  first->flush();
  char const* const used = first->get_last_output_buffer();
  first->leave_spare_memory(spare);
  first.reset();
  block_sink second;
  second.take_spare_memory(spare);
  EXPECT_EQ(second.state(), "|- 1024");
  second << text.c_str();
  char const* const pending_memory = second.get_output_buffer();
  second.flush();
  EXPECT_TRUE(pending_memory == used || second.get_output_buffer() == used) << "memory reused";
  EXPECT_EQ(second.state(), "|" + text + " 115712") << "1024 + 7 * 16384, as for a fresh sink";
}

TEST(InputStream, SourcesEndLookBackOnceAndEchoOnce) {
  qmgl_input_str quiet("ab"), null_text(nullptr), loud("ab");
  EXPECT_TRUE(quiet.throw_on_eoi(false)) << "throw-on-end is on at first";
  null_text.throw_on_eoi(false);
  EXPECT_EQ(reads(quiet, 4) + reads(null_text, 1) + reads(loud, 2), "ab$|$|$|ab");
  EXPECT_FALSE(quiet.is_interactive());
  EXPECT_EQ(failure(raise_of([&] { loud.get_char(); })), end_of_input);

  block_source in({"xy"});
  text_sink echo;
  in.echo_to(echo);
  in.throw_on_eoi(false);
  EXPECT_EQ(in.get_char(), 'x');
  in.return_char();
  EXPECT_EQ(failure(raise_of([&] { in.return_char(); })),
            "537067520 assertion failed: _have_returned_char == false @src/qmgl/qmgl_input");
  EXPECT_EQ(reads(in, 3), "xy$|") << "the failed return left the stream unchanged";
  in.return_char();
  EXPECT_EQ(reads(in, 1), "$|") << "return_char does not clear the end";
  EXPECT_EQ(in.fills, 2u) << "the returned end was not read from the source again";
  in.halt_echo();
  in.get_char();
  EXPECT_EQ(echo.text, "xy\r\n") << "each character once, a NUL as a line end, until halted";

  std::vector<std::vector<char const*>> const argvs = {
      {"ls", "", "-l", nullptr}, {nullptr}, {"", "b", nullptr}};
  std::string seen;
  for (auto const& argv : argvs) {
    qmgl_input_arguments args(argv.data());
    args.throw_on_eoi(false);
    seen += reads(args, 7) + " ";
  }
  EXPECT_EQ(seen,
            "ls  -l$| $|$|$|$|$|$|$| "
            " b$|$|$|$|$| ");
  EXPECT_EQ(raise_of([] { qmgl_input_arguments bad(nullptr); }).message, "assertion failed: _argv");
}

TEST(InputStream, CounterTracksLinesAndColumnsAndEndsOnlyAtItsOwnEnd) {
  qmgl_input_str inner("x\r\ny\nab");
  qmgl_input_counter in(inner);
  std::string seen;
  for (int i = 0; i < 9; ++i) {
    seen += std::to_string(in.line()) + ":" + std::to_string(in.column()) + " ";
    if (i == 4) in.return_char();  // a returned character is not counted twice
    seen += reads(in, 1) + " ";    // the inner end passes on without throwing
  }
  EXPECT_EQ(seen, "1:1 x 1:2 \r 1:2 \n 2:1 y 2:2 y 2:2 \n 3:1 a 3:2 b 3:3 $| ");

  // Over an inner input that met its end before and then receives data, only the counter's own
  // read of the end ends it; so also for an end character that is not NUL.
  for (char const end : {'\0', '\xff'}) {
    block_source resumed({"", "xy"}, end);
    resumed.throw_on_eoi(false);
    EXPECT_EQ(resumed.get_char(), end);
    qmgl_input_counter after_end(resumed);
    EXPECT_EQ(reads(after_end, 3), end == '\0' ? "xy$|" : "xy#|");
  }
}

// Sources are destroyed through their own class; the buffer base may be destroyed directly.
static_assert(std::is_nothrow_destructible_v<qmgl_input_buffer_mixin> &&
              !std::has_virtual_destructor_v<qmgl_input_buffer_mixin>);

// A fill that adds nothing ends the input; a block take stops after the first NUL and fills
// only when the buffer is empty; a kept reference to the buffer shows what remains.
TEST(InputStream, BufferedSourcesAndBlockTakes) {
  block_source in({"a\xff", "", "b"});
  in.throw_on_eoi(false);
  EXPECT_EQ(reads(in, 4), "a#$|b|") << "0xFF is data; a later fill with data is delivered";
  EXPECT_EQ(in.get_buffered_char(), -1);

  block_source taken({"abc\0de"s, "fgh"});
  std::string seen;
  for (std::size_t capacity : {0, 16, 1, 16, 16, 16}) {
    char into[16];
    std::size_t const n = taken.get_buffered_chars(into, capacity);
    seen += std::string(into, n) + std::to_string(taken.fills) + " ";
  }
  EXPECT_EQ(seen,
            "0 abc\0"
            "1 d1 e1 fgh2 3 "s);

  block_source held_in({});
  held_in.add_data("hello");
  EXPECT_EQ(reads(held_in, 3), "hel");
  held_in.add_data(" world");
  std::string const& held = held_in.get_input_buffer();
  EXPECT_EQ(held, "lo world");
  EXPECT_EQ(reads(held_in, 2) + "|" + held, "lo| world");
  held_in.add_data("!");
  char block[3];
  ASSERT_EQ(held_in.get_buffered_chars(block, sizeof block), 3u);
  EXPECT_EQ(held + std::to_string(held_in.fills), "rld!0");
}

// The value reader and writer take and put whole texts straight in a string source's or sink's
// memory, but only for the library's own classes: a derived get_char or put_char sees every
// character.
TEST(InputStream, DerivedStringStreamsSeeEveryCharacterOfTheValueText) {
  struct sevens : qmgl_input_str {  // every x reads as 7
    using qmgl_input_str::qmgl_input_str;
    char get_char() override {
      char const c = qmgl_input_str::get_char();
      return c == 'x' ? '7' : c;
    }
  } in("(x1, 'axb', 'x''x', #x0)");
  struct shouting : qmgl_output_str {  // letters are written in upper case
    using qmgl_output_str::qmgl_output_str;
    void put_char(char c) override {
      qmgl_output_str::put_char(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
  };
  qmgl_value v;
  in >> v;
  qmgl_ntarray_of<char, 0> text;
  shouting out(text);
  v.stream_out(out);
  EXPECT_STREQ(text, "(71  , 'A7B' , '7''7' , #70 )  ");
}

// A copy ends at a NUL, or at the end of a source whose end character is not NUL (0xFF); what
// arrives after the end, or follows a NUL, a later copy writes whole.
TEST(InputStream, CopyToOutputEndsAtTheEnd) {
  text_sink loud_out;
  qmgl_input_str loud("abc");
  EXPECT_EQ(failure(raise_of([&] { loud_out << loud; })) + loud_out.text, end_of_input + "abc");
  struct {
    std::vector<std::string> blocks;
    char end;
  } const cases[] = {{{"ab", "", "cd"}, '\0'}, {{"ab", "", "cd"}, '\xff'}, {{"ab\0cd"s}, '\xff'}};
  for (auto const& c : cases) {
    block_source resumed(c.blocks, c.end);
    resumed.throw_on_eoi(false);
    text_sink first, second;
    first << resumed;
    second << resumed;
    EXPECT_EQ(first.text + "|" + second.text + (resumed.empty() ? "|" : ""), "ab|cd|");
  }
}

TEST(FileStream, OutputModesAndOtherWritersDenied) {
  temp_dir dir;
  std::string const name = dir.file("out.txt");
  char const* const path = name.c_str();
  qmgl_ntarray_of<char, 0> const text_name(path);
  for (int bad : {2, 3, -1}) {
    EXPECT_EQ(failure(raise_of([&] { qmgl_output_file out(path, mode(bad)); })), invalid_mode);
    EXPECT_EQ(failure(raise_of([&] { qmgl_output_file out(text_name, mode(bad)); })), invalid_mode);
  }
  EXPECT_FALSE(std::filesystem::exists(name)) << "the mode is checked before the file is touched";
  write_file(name, "stale");
  {
    qmgl_output_file out(text_name, qmgl_output_file::truncate);
    out << "abc";
    EXPECT_EQ(file_contents(name), "") << "nothing reaches the file before a flush";
    // A second writer, or a reader that denies writing, cannot join; another reader can.
    std::string const denied = "32 unmapped @src/qmgl/qmgl_file";
    EXPECT_EQ(failure(raise_of([&] { qmgl_output_file again(path, mode(1)); })), denied);
    EXPECT_EQ(failure(raise_of([&] { qmgl_input_file in(path, qmgl_file::deny_write); })), denied);
    EXPECT_EQ(failure(raise_of([&] { qmgl_input_file in(path, qmgl_file::deny_none); })), "none");
  }
  write_through(qmgl_output_file(path, qmgl_output_file::append), "def");
  EXPECT_EQ(file_contents(name), "abcdef");

  // On a given file, through a handle of the stream's own.
  qmgl_file file(path, qmgl_file::open_existing, qmgl_file::access_read_write,
                 qmgl_file::deny_none);
  file.seek(2, qmgl_file::seek_begin);
  write_through(qmgl_output_file(file, qmgl_output_file::keep_position), "XY");
  write_through(qmgl_output_file(file, qmgl_output_file::append), "!");
  EXPECT_EQ(file_contents(name), "abXYef!");
  write_through(qmgl_output_file(file, qmgl_output_file::truncate), "new");
  EXPECT_EQ(file_contents(name), "new");
  for (int bad : {3, -1})
    EXPECT_EQ(failure(raise_of([&] { qmgl_output_file out(file, mode(bad)); })), invalid_mode);
  EXPECT_EQ(file.seek(0, qmgl_file::seek_begin), 0u) << "the caller's handle is still open";
}

TEST(FileStream, OneWritePerFlushAndItsRecords) {
  temp_dir dir;
  std::string const name = dir.file("blocks.txt");
  qmgl_output_file out(name.c_str(), qmgl_output_file::truncate);
  trace_capture capture(0x1000);
  out.put_chars('x', 5000);
  out << "yz";
  out.flush();
  out.flush();
  out << "!";
  out.flush_to_disk();
  EXPECT_EQ(file_contents(name), std::string(5000, 'x') + "yz!");
  std::string writes;  // what the records of the stream's own file, a part of it, hold
  for (captured_record const& r : capture.take()) {
    EXPECT_TRUE(r.object >= object_word(&out) && r.object < object_word(&out) + sizeof out);
    if (r.kind == 0x06200000) writes += (r.tracepoint == 0x141A1000 ? "write " : "flush ") + r.data;
    if (r.kind == 0x06210000)
      writes += r == value_record(r.kind, r.tracepoint, r.object, 0) ? ";" : "?";
  }
  EXPECT_EQ(writes, "write 5002;write 1;flush ;");
}

TEST(FileStream, FailedWritesKeepTheCharactersAndTheDestructorReportsThem) {
  temp_dir dir;
  std::string const name = dir.file("readonly.txt");
  write_file(name, "old");
  qmgl_file reader(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                   qmgl_file::deny_none);
  auto out = std::make_unique<qmgl_output_file>(reader, qmgl_output_file::keep_position);
  *out << "abc";
  raised const r = raise_of([&] { out->flush(); });
  EXPECT_EQ(failure(r) + r.message,
            "5 unmapped @src/qmgl/qmgl_file" + system_text(5).substr(0, 159));
  EXPECT_EQ(raise_of([&] { out->flush_to_disk(); }).code, 5u);
  EXPECT_EQ(out->get_output_buffer_length(), 3) << "the block stays for the next flush";

  trace_capture capture(0x8);
  std::uint64_t const object = object_word(out.get());
  out.reset();
  std::vector<captured_record> const expected = {
      text_record(0x06040000, 0x141C0000, object,
                  "flush at destruction failed, 3 characters lost: 5 " + system_text(5))};
  EXPECT_EQ(capture.take(), expected);
  EXPECT_EQ(file_contents(name), "old");
}

TEST(FileStream, InputReadsBlocksOf512BytesAndEndsIn0xFF) {
  temp_dir dir;
  std::string const name = dir.file("in.bin");
  std::string data =
      "a\xff"
      "b\0"s;
  while (data.size() < 1000)
    data += static_cast<char>('a' + data.size() % 26);
  write_file(name, data);

  buffer_probe in(name.c_str(), qmgl_file::deny_write);
  in.read_block();
  EXPECT_EQ(in.buffer.size(), 512u) << "the first read took 512 bytes";
  std::string read = reads(in, 4);
  EXPECT_EQ(read, "a#b$|") << "0xFF in the file is data; a NUL sets the end flag";
  while (read.size() < 514)
    read += in.get_char();
  EXPECT_EQ(in.buffer.size(), 487u) << "the second read took the 488 bytes left";
  while (read.size() < 1001)
    read += in.get_char();
  EXPECT_EQ(read.substr(5), data.substr(4));
  EXPECT_EQ(failure(raise_of([&] { in.get_char(); })), end_of_input);
  in.throw_on_eoi(false);
  EXPECT_EQ(reads(in, 2) + (in.is_interactive() ? "?" : ""), "#|#|") << "past the end, again";

  qmgl_file file(name.c_str(), qmgl_file::open_existing, qmgl_file::access_read,
                 qmgl_file::deny_none);
  file.seek(2, qmgl_file::seek_begin);
  EXPECT_EQ(qmgl_input_file(file).get_char(), 'b') << "from the file's position";

  EXPECT_EQ(&qmgl_input_file::std_input(), &qmgl_input_file::std_input()) << "made once";
  EXPECT_NE(&qmgl_output_file::std_error(), &qmgl_output_file::std_output());
}
