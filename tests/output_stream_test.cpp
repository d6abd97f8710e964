#include <climits>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_output.h>
#include <wygl/qmgl_value.h>

namespace {

// A sink that keeps what it receives, and notes the put_chars calls that reach it.
struct recording_sink : qmgl_output_imp {
  std::string text;
  std::vector<std::pair<char, unsigned>> put_chars_calls;

  void put_chars(char c, unsigned int n) override {
    put_chars_calls.emplace_back(c, n);
    qmgl_output_imp::put_chars(c, n);
  }

 private:
  void really_put_char(char c) override { text.push_back(c); }
};

// A buffered sink whose delivery can be made to fail.
struct block_sink : qmgl_output_imp, qmgl_output_buffer_mixin {
  std::vector<std::string> blocks;
  bool fail_next = false;

  void flush() override { flush_buffer(); }
  using qmgl_output_buffer_mixin::leave_spare_memory;
  using qmgl_output_buffer_mixin::put_buffered_chars;
  using qmgl_output_buffer_mixin::take_spare_memory;
  // What the last block held while each block was being delivered.
  std::vector<std::string> last_during_delivery;

 private:
  void really_put_char(char c) override { put_buffered_char(c); }
  void really_flush_buffer(char const* data, int length) override {
    if (fail_next) {
      fail_next = false;
      throw std::runtime_error("delivery failed");
    }
    blocks.emplace_back(data, static_cast<std::size_t>(length));
    last_during_delivery.emplace_back(get_last_output_buffer(),
                                      static_cast<std::size_t>(get_last_output_buffer_length()));
  }
};

// A string sink of a class of its own, whose put_char writes letters in upper case.
struct shouting_sink : qmgl_output_str {
  using qmgl_output_str::qmgl_output_str;
  void put_char(char c) override {
    qmgl_output_str::put_char(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
};

template <class T>
std::string written(T value) {
  recording_sink sink;
  sink << value;
  return sink.text;
}

std::string pending(block_sink const& sink) {
  return {sink.get_output_buffer(), static_cast<std::size_t>(sink.get_output_buffer_length())};
}

std::string last_block(block_sink const& sink) {
  if (sink.get_last_output_buffer() == nullptr) return "<none>";
  return {sink.get_last_output_buffer(),
          static_cast<std::size_t>(sink.get_last_output_buffer_length())};
}

}  // namespace

TEST(OutputStream, NumbersEndWithTheirSpaces) {
  EXPECT_EQ(written(0UL), "0 ");
  EXPECT_EQ(written(0), "0  ");
  EXPECT_EQ(written(0U), "0  ");
  EXPECT_EQ(written(0L), "0  ");
  EXPECT_EQ(written(-5), "-5  ");
  EXPECT_EQ(written(42), "42  ");
  EXPECT_EQ(written(4294967295UL), "4294967295 ");
  EXPECT_EQ(written(4294967295U), "4294967295  ");
  EXPECT_EQ(written(INT_MIN), "-2147483648  ");
  EXPECT_EQ(written(INT_MAX), "2147483647  ");
  EXPECT_EQ(written(-2147483647L - 1), "-2147483648  ");
}

TEST(OutputStream, NumbersAgreeWithPrintf) {
  std::mt19937 pick(20261205);
  std::uniform_int_distribution<std::uint32_t> bits;
  char expected[64];
  for (int i = 0; i < 20000; ++i) {
    std::uint32_t const u = bits(pick) >> (bits(pick) % 32);  // all magnitudes
    auto const s = static_cast<std::int32_t>(u);
    std::snprintf(expected, sizeof expected, "%d  ", s);
    ASSERT_EQ(written(static_cast<int>(s)), expected);
    ASSERT_EQ(written(static_cast<long>(s)), expected);
    std::snprintf(expected, sizeof expected, "%u  ", u);
    ASSERT_EQ(written(static_cast<unsigned int>(u)), expected);
    std::snprintf(expected, sizeof expected, "%u ", u);
    ASSERT_EQ(written(static_cast<unsigned long>(u)), expected);
    std::snprintf(expected, sizeof expected, "%d", s);
    ASSERT_EQ(qmgl_output_length(s), std::string(expected).size()) << s;
  }
}

TEST(OutputStream, HexIsEightLowerCaseDigits) {
  EXPECT_EQ(written(qmgl_hex(255)), "0x000000ff ");
  EXPECT_EQ(written(qmgl_hex(0)), "0x00000000 ");
  EXPECT_EQ(written(qmgl_hex(0xDEADBEEF)), "0xdeadbeef ");
}

TEST(OutputStream, CharactersAndTexts) {
  EXPECT_EQ(written('x'), "x");
  EXPECT_EQ(written("abc"), "abc");
  EXPECT_EQ(written(""), "");
  EXPECT_EQ(written(qmgl_ntarray_of<char, 0>("text")), "text");
}

TEST(OutputStream, QuotedStringsDoubleTheirQuote) {
  qmgl_ntarray_of<char, 0> const its("it's");
  qmgl_ntarray_of<char, 0> const nothing;
  qmgl_ntarray_of<char, 0> const plain("plain");
  qmgl_ntarray_of<char, 0> const many("''\"''");
  EXPECT_EQ(written(qmgl_str_quoted(its, '\'')), "'it''s' ");
  EXPECT_EQ(written(qmgl_str_quoted(nothing, '\'')), "'' ");
  EXPECT_EQ(written(qmgl_str_quoted(plain, '"')), "\"plain\" ");
  EXPECT_EQ(written(qmgl_str_quoted(many, '\'')), "'''''\"''''' ");
  EXPECT_EQ(written(qmgl_str_quoted(many, '"')), "\"''\"\"''\" ");
}

TEST(OutputStream, LengthOfDecimalForms) {
  EXPECT_EQ(qmgl_output_length(0), 1u);
  EXPECT_EQ(qmgl_output_length(-5), 2u);
  EXPECT_EQ(qmgl_output_length(9), 1u);
  EXPECT_EQ(qmgl_output_length(10), 2u);
  EXPECT_EQ(qmgl_output_length(2147483647), 10u);
  EXPECT_EQ(qmgl_output_length(INT_MIN), 11u);
}

TEST(OutputStream, EchoShowsNulAsLineEndAndPassesPutCharsOn) {
  recording_sink target;
  recording_sink echo;
  target.echo_to(echo);
  target.put_char('a');
  target.put_char('\0');
  EXPECT_EQ(target.text, std::string("a\0", 2));
  EXPECT_EQ(echo.text, "a\r\n");

  target.text.clear();
  echo.text.clear();
  target.put_chars('\0', 3);
  target.put_chars('z', 0);
  EXPECT_EQ(target.text, std::string(3, '\0'));
  EXPECT_EQ(echo.text, std::string(3, '\0'));
  EXPECT_EQ(echo.put_chars_calls, (std::vector<std::pair<char, unsigned>>{{'\0', 3}, {'z', 0}}));
}

TEST(OutputStream, EchoChainsPassEveryCharacterOn) {
  recording_sink first;
  recording_sink second;
  recording_sink third;
  first.echo_to(second);
  second.echo_to(third);
  first << "ab" << '\0';
  first.put_chars('c', 2);
  EXPECT_EQ(first.text, std::string("ab\0cc", 5));
  EXPECT_EQ(second.text, "ab\r\ncc");
  EXPECT_EQ(third.text, "ab\r\ncc");

  // A later echo_to replaces the earlier target.
  recording_sink other;
  first.echo_to(other);
  first << 'd';
  EXPECT_EQ(second.text, "ab\r\ncc");
  EXPECT_EQ(other.text, "d");
}

TEST(OutputStream, BlackHoleDiscardsButStillEchoes) {
  qmgl_output_black_hole hole;
  recording_sink echo;
  hole << "lost";
  hole.echo_to(echo);
  hole << 7 << '\0';
  hole.flush();
  EXPECT_EQ(echo.text, "7  \r\n");
}

TEST(OutputStream, StringSinkAppendsAndEarlierCopiesKeepTheirText) {
  qmgl_ntarray_of<char, 0> text("ab");
  qmgl_output_str out(text);
  qmgl_ntarray_of<char, 0> const before = text;
  out << 'c';
  EXPECT_STREQ(text, "abc");
  EXPECT_STREQ(before, "ab");
  qmgl_ntarray_of<char, 0> const middle = text;
  out << -1 << "xyz";
  EXPECT_STREQ(text, "abc-1  xyz");
  EXPECT_STREQ(middle, "abc");
  EXPECT_STREQ(before, "ab");

  // A copy of the stream writes to the same string.
  qmgl_output_str copy(out);
  copy << '!';
  EXPECT_STREQ(text, "abc-1  xyz!");
}

TEST(OutputStream, StringSinkCollectsALongText) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    char const c = static_cast<char>('a' + i % 26);
    out.put_char(c);
    expected.push_back(c);
  }
  EXPECT_EQ(text.length(), expected.size());
  EXPECT_EQ(std::string(text), expected);
}

TEST(OutputStream, BufferGrowsInFixedStepsAndFlushesOneBlock) {
  block_sink sink;
  EXPECT_EQ(sink.get_output_buffer_capacity(), 1024);
  EXPECT_EQ(sink.get_output_buffer_length(), 0);
  EXPECT_EQ(sink.get_last_output_buffer(), nullptr);
  EXPECT_EQ(sink.get_last_output_buffer_length(), 0);

  std::string expected;
  for (int i = 0; i < 1024; ++i)
    expected.push_back(static_cast<char>(i % 251));
  for (char c : expected)
    sink.put_char(c);
  EXPECT_EQ(sink.get_output_buffer_capacity(), 1024);
  sink.put_char('!');
  expected.push_back('!');
  EXPECT_EQ(sink.get_output_buffer_capacity(), 17408);
  EXPECT_EQ(sink.get_output_buffer_length(), 1025);
  EXPECT_TRUE(sink.blocks.empty()) << "nothing leaves before a flush";

  sink.flush();
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(sink.blocks[0], expected);
  EXPECT_EQ(sink.get_output_buffer_length(), 0);
  EXPECT_EQ(last_block(sink), expected);
  EXPECT_EQ(sink.get_output_buffer_capacity(), 17408) << "the buffer keeps its capacity";

  sink.flush();
  EXPECT_EQ(sink.blocks.size(), 1u) << "an empty buffer hands over nothing";
  EXPECT_EQ(last_block(sink), expected);
}

TEST(OutputStream, CapacityFollowsTheStepsForALongOutput) {
  block_sink sink;
  std::string expected;
  for (int i = 0; i < 1000000; ++i) {
    char const c = static_cast<char>('0' + i % 10);
    sink.put_char(c);
    expected.push_back(c);
  }
  // 1024 + k * 16384 >= 1000000 first for k = 61.
  EXPECT_EQ(sink.get_output_buffer_capacity(), 1024 + 61 * 16384);
  EXPECT_EQ(pending(sink), expected);
  sink.flush();
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(sink.blocks[0], expected);
}

TEST(OutputStream, BlockAppendReachesTheCapacityOfTheCharacterLoop) {
  // Lengths around the step boundaries, each after a few characters already pending.
  for (std::size_t length : {0u, 1u, 1021u, 1022u, 17405u, 17406u, 40000u, 1000000u}) {
    std::string block(length, ' ');
    for (std::size_t i = 0; i < length; ++i)
      block[i] = static_cast<char>(i % 253);
    block_sink by_block;
    block_sink by_char;
    for (block_sink* sink : {&by_block, &by_char})
      *sink << "ab";
    by_block.put_buffered_chars(block.data(), block.size());
    for (char c : block)
      by_char.put_char(c);
    EXPECT_EQ(by_block.get_output_buffer_capacity(), by_char.get_output_buffer_capacity())
        << length;
    EXPECT_EQ(pending(by_block), "ab" + block) << length;
  }
}

TEST(OutputStream, BlockAppendPastIntMaxRaisesAndKeepsThePendingText) {
  block_sink sink;
  sink << "kept";
  char const byte = 'x';
  // The length alone is checked: nothing is read from the (one-byte) data.
  EXPECT_THROW(sink.put_buffered_chars(&byte, std::size_t{INT_MAX}), exc_not_enough_memory_t);
  EXPECT_EQ(pending(sink), "kept");
  EXPECT_EQ(sink.get_output_buffer_capacity(), 1024);
}

TEST(OutputStream, FlushesInTurnKeepEachBlockAsTheLastOne) {
  block_sink sink;
  std::string const long_text(50000, 'L');
  for (std::string const& text : {std::string("one"), long_text, std::string("three")}) {
    sink << text.c_str();
    sink.flush();
    EXPECT_EQ(last_block(sink), text);
  }
  EXPECT_EQ(sink.blocks, (std::vector<std::string>{"one", long_text, "three"}));
  EXPECT_EQ(sink.last_during_delivery, sink.blocks) << "the last block is set before delivery";
  sink << "four";
  EXPECT_EQ(pending(sink), "four");
  EXPECT_EQ(last_block(sink), "three");
}

TEST(OutputStream, SpareMemoryPassesToTheNextSinkUnseen) {
  qmgl_output_buffer_spare spare;
  // Longer than any fixed limit on kept memory would allow: what is kept follows the length.
  std::string const text(9 * 1024 * 1024 + 1, 's');
  char const* used = nullptr;
  {
    block_sink first;
    first.take_spare_memory(spare);  // nothing kept yet
    first.put_buffered_chars(text.data(), text.size());
    first.flush();
    used = first.get_last_output_buffer();
    first.leave_spare_memory(spare);
  }
  block_sink second;
  second.take_spare_memory(spare);
  EXPECT_EQ(second.get_output_buffer_capacity(), 1024);
  EXPECT_EQ(second.get_output_buffer_length(), 0);
  EXPECT_EQ(second.get_last_output_buffer(), nullptr);
  EXPECT_EQ(second.get_last_output_buffer_length(), 0);
  second.put_buffered_chars(text.data(), text.size());
  // The capacity of a fresh sink: the first 1024 + k * 16384 that holds the text.
  EXPECT_EQ(second.get_output_buffer_capacity(), 1024 + 576 * 16384);
  char const* const pending_memory = second.get_output_buffer();
  second.flush();
  EXPECT_TRUE(pending_memory == used || second.get_output_buffer() == used)
      << "the first sink's memory is reused";
  EXPECT_EQ(second.blocks, std::vector<std::string>{text});
}

TEST(OutputStream, FailedDeliveryKeepsTheBlockForTheNextFlush) {
  block_sink sink;
  sink << "first";
  sink.flush();
  sink << "second";
  sink.fail_next = true;
  EXPECT_THROW(sink.flush(), std::runtime_error);
  EXPECT_EQ(pending(sink), "second");
  EXPECT_EQ(last_block(sink), "second") << "the copy is made before delivery";

  sink << '!';
  EXPECT_EQ(last_block(sink), "second") << "the last block is a copy, not the pending text";
  sink.flush();
  EXPECT_EQ(sink.blocks, (std::vector<std::string>{"first", "second!"}));
  EXPECT_EQ(sink.get_output_buffer_length(), 0);
}

// The value writer puts whole texts straight into a string sink's string, but only for the
// library's own classes: a derived class's put_char sees every character.
TEST(OutputStream, WritersPutEveryCharacterThroughADerivedSinksPutChar) {
  qmgl_value_array a;
  a += qmgl_value("it's");
  a += qmgl_value(reinterpret_cast<unsigned short const*>(u"w\"x"));
  unsigned char const bytes[] = {0xab};
  a += qmgl_value(qmgl_refcounted_vector_of<unsigned char>(bytes, 1));
  a += qmgl_value(true);
  qmgl_ntarray_of<char, 0> text;
  shouting_sink out(text);
  qmgl_value(a).stream_out(out);
  EXPECT_STREQ(text, "('IT''S' , \"W\"\"X\"  , #AB , TRUE )  ");
}

TEST(OutputStream, BufferedSinkEchoesAsItCollects) {
  block_sink sink;
  recording_sink echo;
  sink.echo_to(echo);
  sink << "ok" << '\0';
  EXPECT_EQ(echo.text, "ok\r\n");
  EXPECT_EQ(pending(sink), std::string("ok\0", 3));
}
