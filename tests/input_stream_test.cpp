#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_input.h>
#include <wygl/qmgl_value.h>
#include <wygl/qmgl_value_reader.h>

namespace {

struct recording_sink : qmgl_output_imp {
  std::string text;

 private:
  void really_put_char(char c) override { text.push_back(c); }
};

// A source that counts how often it is asked for a character.
struct counting_source : qmgl_input_imp {
  explicit counting_source(std::string data) : data_(std::move(data)) {}
  int reads = 0;

 private:
  char really_get_char() override {
    ++reads;
    if (next_ == data_.size()) return end_of_source();
    return data_[next_++];
  }
  std::string data_;
  std::size_t next_ = 0;
};

// A buffered source fed by the test, block by block, whose end character is chosen.
struct block_source : qmgl_input_imp, qmgl_input_buffer_mixin {
  explicit block_source(std::vector<std::string> blocks, char end_char = '\0')
      : blocks_(std::move(blocks)), end_char_(end_char) {}
  int fills = 0;

  using qmgl_input_buffer_mixin::add_data;
  using qmgl_input_buffer_mixin::get_buffered_char;
  using qmgl_input_buffer_mixin::get_buffered_chars;
  using qmgl_input_buffer_mixin::get_input_buffer;

 private:
  void fill_buffer() override {
    ++fills;
    if (static_cast<std::size_t>(fills) > blocks_.size() + 10)
      throw std::runtime_error("read loop does not end");
    if (next_ < blocks_.size()) add_data(blocks_[next_++]);
  }
  char really_get_char() override {
    int const c = get_buffered_char();
    if (c == -1) return end_of_source(end_char_);
    return static_cast<char>(c);
  }
  std::vector<std::string> blocks_;
  std::size_t next_ = 0;
  char end_char_;
};

// A string source of a class of its own, whose get_char turns every x into a 7.
struct sevens_input : qmgl_input_str {
  using qmgl_input_str::qmgl_input_str;
  char get_char() override {
    char const c = qmgl_input_str::get_char();
    return c == 'x' ? '7' : c;
  }
};

// Reads until the input reports its end, with throw-on-end off.
std::string read_all(qmgl_input& in) {
  in.throw_on_eoi(false);
  std::string text;
  for (char c = in.get_char(); !in.empty(); c = in.get_char())
    text.push_back(c);
  return text;
}

}  // namespace

TEST(InputStream, StringSourceEndsWithNulOrException) {
  qmgl_input_str quiet("ab");
  EXPECT_TRUE(quiet.throw_on_eoi(false)) << "throw-on-end is on at first";
  EXPECT_EQ(quiet.get_char(), 'a');
  EXPECT_EQ(quiet.get_char(), 'b');
  EXPECT_FALSE(quiet.empty()) << "reading the last character is not the end yet";
  EXPECT_EQ(quiet.get_char(), '\0');
  EXPECT_TRUE(quiet.empty());
  EXPECT_EQ(quiet.get_char(), '\0');
  EXPECT_FALSE(quiet.is_interactive());

  qmgl_input_str loud("ab");
  loud.get_char();
  loud.get_char();
  try {
    loud.get_char();
    FAIL() << "no exception at the end";
  } catch (exc_end_of_input_t const& e) {
    EXPECT_STREQ(e.message, "exc_end_of_input");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_input");
    EXPECT_EQ(e.code, 0x20030023u);
  }
  EXPECT_TRUE(loud.empty());
  EXPECT_THROW(loud.get_char(), exc_end_of_input_t) << "every later read meets the end";

  qmgl_input_str null_text(nullptr);
  null_text.throw_on_eoi(false);
  EXPECT_EQ(null_text.get_char(), '\0');
  EXPECT_TRUE(null_text.empty());
}

TEST(InputStream, OneCharacterOfLookBack) {
  counting_source in("xy");
  in.throw_on_eoi(false);
  EXPECT_EQ(in.get_char(), 'x');
  in.return_char();
  try {
    in.return_char();
    FAIL() << "a second return_char was accepted";
  } catch (exc_assertion_failed_t const& e) {
    EXPECT_STREQ(e.message, "assertion failed: _have_returned_char == false");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_input");
  }
  EXPECT_EQ(in.get_char(), 'x') << "the failed return left the stream unchanged";
  EXPECT_EQ(in.reads, 1);
  EXPECT_EQ(in.get_char(), 'y');
  EXPECT_EQ(in.get_char(), '\0');
  EXPECT_EQ(in.reads, 3);
  in.return_char();
  EXPECT_TRUE(in.empty()) << "return_char does not clear the end";
  EXPECT_EQ(in.get_char(), '\0');
  EXPECT_EQ(in.reads, 3) << "the returned end was not read from the source again";
}

TEST(InputStream, EchoCopiesEachCharacterOnce) {
  qmgl_input_str in("ab");
  recording_sink echo;
  in.echo_to(echo);
  in.throw_on_eoi(false);
  in.get_char();
  in.return_char();
  in.get_char();
  in.get_char();
  in.get_char();
  EXPECT_EQ(echo.text, "ab\r\n");
  in.halt_echo();
  in.get_char();
  EXPECT_EQ(echo.text, "ab\r\n");
}

TEST(InputStream, ArgumentsReadAsOneTextWithSpaces) {
  char const* ls[] = {"ls", "-l", nullptr};
  qmgl_input_arguments ls_in(ls);
  EXPECT_EQ(read_all(ls_in), "ls -l");

  char const* with_empty[] = {"a", "", "b", nullptr};
  qmgl_input_arguments empty_in(with_empty);
  EXPECT_EQ(read_all(empty_in), "a  b");

  char const* none[] = {nullptr};
  qmgl_input_arguments none_in(none);
  EXPECT_EQ(read_all(none_in), "");

  char const* leading_empty[] = {"", "b", nullptr};
  qmgl_input_arguments leading_in(leading_empty);
  EXPECT_EQ(read_all(leading_in), " b");
  EXPECT_EQ(leading_in.get_char(), '\0') << "the end is met again";

  try {
    qmgl_input_arguments bad(nullptr);
    FAIL() << "a null vector was accepted";
  } catch (exc_assertion_failed_t const& e) {
    EXPECT_STREQ(e.message, "assertion failed: _argv");
  }
}

TEST(InputStream, CopiesReadOnIndependently) {
  qmgl_input_str original("abc");
  original.get_char();
  qmgl_input_str copy(original);
  EXPECT_EQ(copy.get_char(), 'b');
  EXPECT_EQ(copy.get_char(), 'c');
  EXPECT_EQ(original.get_char(), 'b');
}

TEST(InputStream, CounterTracksLinesAndColumns) {
  qmgl_input_str inner("x\r\ny");
  qmgl_input_counter in(inner);
  EXPECT_EQ(in.line(), 1);
  EXPECT_EQ(in.column(), 1);
  in.get_char();
  EXPECT_EQ(in.column(), 2);
  in.get_char();
  EXPECT_EQ(in.column(), 2) << "a carriage return leaves the column";
  in.get_char();
  EXPECT_EQ(in.line(), 2);
  EXPECT_EQ(in.column(), 1);
  EXPECT_EQ(in.get_char(), 'y');
  in.return_char();
  EXPECT_EQ(in.get_char(), 'y');
  EXPECT_EQ(in.column(), 2) << "a returned character is not counted twice";
  EXPECT_EQ(in.get_char(), '\0') << "the counter passes the inner end on without throwing";
  EXPECT_EQ(in.column(), 3);
  EXPECT_TRUE(in.empty());
  EXPECT_TRUE(inner.empty());

  qmgl_input_str text("ab\ncd");
  qmgl_input_counter counter(text);
  for (int i = 0; i < 5; ++i)
    counter.get_char();
  EXPECT_EQ(counter.line(), 2);
  EXPECT_EQ(counter.column(), 3);

  // Over an inner input that met its end before, and then receives data, only the counter's
  // own read of the end ends it; so also for an end character that is not NUL.
  for (char const end : {'\0', '\xff'}) {
    block_source resumed({"", "xy"}, end);
    resumed.throw_on_eoi(false);
    EXPECT_EQ(resumed.get_char(), end);
    qmgl_input_counter after_end(resumed);
    std::string seen;
    for (int i = 0; i < 3; ++i) {
      seen.push_back(after_end.get_char());
      seen.push_back(after_end.empty() ? 'E' : '-');
    }
    EXPECT_EQ(seen, std::string("x-y-") + end + 'E') << static_cast<int>(end);
  }
}

TEST(InputStream, BufferedSourceDeliversBytesUntilFillAddsNothing) {
  block_source in({std::string("a\xff", 2), "", "b"});
  in.throw_on_eoi(false);
  EXPECT_EQ(in.get_char(), 'a');
  EXPECT_EQ(in.get_char(), '\xff') << "the byte 0xFF is data, not the end";
  EXPECT_FALSE(in.empty());
  EXPECT_EQ(in.get_char(), '\0') << "a fill that adds nothing ends the input";
  EXPECT_TRUE(in.empty());
  EXPECT_EQ(in.get_char(), 'b') << "a later fill with data is still delivered";
  EXPECT_TRUE(in.empty()) << "the end flag stays set";
  EXPECT_EQ(in.get_buffered_char(), -1);
}

// Sources are destroyed through their own class; the buffer base may be destroyed directly.
static_assert(std::is_nothrow_destructible_v<qmgl_input_buffer_mixin> &&
              !std::has_virtual_destructor_v<qmgl_input_buffer_mixin>);

TEST(InputStream, BufferHoldsTheUnreadBytes) {
  block_source in({});
  in.add_data("hello");
  EXPECT_EQ(in.get_char(), 'h');
  std::string const& held = in.get_input_buffer();
  EXPECT_EQ(held, "ello");
  EXPECT_EQ(in.get_char(), 'e');
  EXPECT_EQ(held, "llo") << "a reference kept shows what remains";
  in.add_data(" world");
  EXPECT_EQ(held, "llo world");
  char block[3];
  ASSERT_EQ(in.get_buffered_chars(block, sizeof block), 3u);
  EXPECT_EQ(held, " world");
  std::string rest;
  for (int i = 0; i < 6; ++i)
    rest.push_back(in.get_char());
  EXPECT_EQ(rest, " world");
  EXPECT_EQ(held, "");
  EXPECT_EQ(in.fills, 0);

  // Many blocks read through: every byte arrives once and in order.
  std::vector<std::string> blocks;
  std::string expected;
  for (int i = 0; i < 2000; ++i) {
    blocks.push_back(
        std::string(static_cast<std::size_t>(i % 7 + 1), static_cast<char>('A' + i % 26)));
    expected += blocks.back();
  }
  block_source many(blocks);
  EXPECT_EQ(read_all(many), expected);
}

TEST(InputStream, BlockTakeStopsAfterTheFirstNulAndFillsOnlyWhenEmpty) {
  block_source in({std::string("abc\0de", 6), "fgh"});
  char into[16];
  EXPECT_EQ(in.get_buffered_chars(into, 0), 0u);
  EXPECT_EQ(in.fills, 0) << "a capacity of 0 reads nothing";

  ASSERT_EQ(in.get_buffered_chars(into, sizeof into), 4u);
  EXPECT_EQ(std::string(into, 4), std::string("abc\0", 4)) << "the NUL is moved, nothing after it";
  EXPECT_EQ(in.fills, 1);
  ASSERT_EQ(in.get_buffered_chars(into, 1), 1u);
  EXPECT_EQ(into[0], 'd');
  ASSERT_EQ(in.get_buffered_chars(into, sizeof into), 1u) << "the rest of the block, no fill";
  EXPECT_EQ(into[0], 'e');
  EXPECT_EQ(in.fills, 1);

  ASSERT_EQ(in.get_buffered_chars(into, sizeof into), 3u);
  EXPECT_EQ(std::string(into, 3), "fgh");
  EXPECT_EQ(in.get_buffered_chars(into, sizeof into), 0u) << "a fill that adds nothing";
  EXPECT_EQ(in.fills, 3);
}

// The library's readers take characters straight from a string input's text, but only from
// the library's own classes: a derived class's get_char sees every character.
TEST(InputStream, ReadersTakeEveryCharacterThroughADerivedSourcesGetChar) {
  sevens_input in("x1 'axb' (x, 'x''x', #x0)");
  qmgl_value v;
  in >> v;
  EXPECT_EQ(v.as_int(), 71);
  in >> v;
  EXPECT_STREQ(v.as_charp(), "a7b");
  in >> v;
  qmgl_value_array const& a = v.as_value_array();
  ASSERT_EQ(a.get_size(), 3u);
  EXPECT_EQ(a[0].as_int(), 7);
  EXPECT_STREQ(a[1].as_charp(), "7'7");
  EXPECT_EQ(a[2].as_bin().get_size(), 1u);
  EXPECT_EQ(a[2].as_binaryp()[0], 0x70);
}

TEST(InputStream, CopyToOutputEndsAtTheEnd) {
  recording_sink loud_out;
  qmgl_input_str loud("abc");
  EXPECT_THROW(loud_out << loud, exc_end_of_input_t);
  EXPECT_EQ(loud_out.text, "abc");

  // A copy ends at a NUL, or at the end of a source whose end character is not NUL (0xFF).
  // What arrives after the end, or follows a NUL, a later copy writes whole.
  struct resumed_case {
    std::vector<std::string> blocks;
    char end;
  };
  for (resumed_case const& c :
       {resumed_case{{"ab", "", "cd"}, '\0'}, resumed_case{{"ab", "", "cd"}, '\xff'},
        resumed_case{{std::string("ab\0cd", 5)}, '\xff'}}) {
    block_source resumed(c.blocks, c.end);
    resumed.throw_on_eoi(false);
    recording_sink first;
    recording_sink second;
    first << resumed;
    second << resumed;
    EXPECT_EQ(first.text + "|" + second.text, "ab|cd");
    EXPECT_TRUE(resumed.empty());
  }
}
