// Quiet mode, the print of an exception's message on standard error when it is constructed,
// and writing an exception on a stream.

#include <string>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_file_stream.h>
#include <wygl/qmgl_output.h>

namespace {

// Read while the test program starts, before any test can change it.
bool const quiet_when_loaded = [] {
  bool const quiet = exc_t::be_quiet(true);
  exc_t::be_quiet(quiet);
  return quiet;
}();

std::string last_block(qmgl_output_buffer_mixin const& out) {
  if (out.get_last_output_buffer() == nullptr) return {};
  return {out.get_last_output_buffer(),
          static_cast<std::size_t>(out.get_last_output_buffer_length())};
}

// What the standard error stream handed over at its latest flush.
std::string printed() {
  return last_block(qmgl_output_file::std_error());
}

std::string written(exc_t const& e) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  out << e;
  return std::string(text);
}

}  // namespace

// Each test starts in quiet mode, turns it off where it tests the print, and leaves the
// setting as it found it.
class ExceptionReport : public testing::Test {
 protected:
  void SetUp() override { _before = exc_t::be_quiet(true); }
  void TearDown() override { exc_t::be_quiet(_before); }

 private:
  bool _before = true;
};

TEST_F(ExceptionReport, QuietModeIsOnAtLoad) {
  EXPECT_TRUE(quiet_when_loaded);
}

TEST_F(ExceptionReport, BeQuietReturnsThePreviousSetting) {
  EXPECT_TRUE(exc_t::be_quiet(false));
  EXPECT_FALSE(exc_t::be_quiet(true));
  EXPECT_TRUE(exc_t::be_quiet(true));
}

TEST_F(ExceptionReport, PrintsTheWholeMessageAndTwoLineEnds) {
  exc_t::be_quiet(false);
  exc_timeout_t const timeout("src/t", 1, "abcd");
  EXPECT_EQ(printed(), "abcd\r\n\r\n");
  EXPECT_EQ(qmgl_output_file::std_error().get_output_buffer_length(), 0) << "flushed";

  std::string const long_message(200, 'm');
  exc_unmapped_t const unmapped("src/t", 2, long_message.c_str(), 9);
  EXPECT_EQ(printed(), long_message + "\r\n\r\n") << "the whole text, not the stored copy";
  EXPECT_EQ(std::string(unmapped.message), long_message.substr(0, 159));

  exc_unmapped_t const nothing("src/t", 3, nullptr, 9);
  EXPECT_EQ(printed(), "\r\n\r\n") << "a null message prints the line ends alone";
}

TEST_F(ExceptionReport, CopiesPrintNothing) {
  exc_t::be_quiet(false);
  exc_timeout_t const first("src/t", 1, "first");
  exc_timeout_t second("src/t", 2, "second");
  ASSERT_EQ(printed(), "second\r\n\r\n");
  exc_timeout_t const copy(first);
  second = first;
  EXPECT_EQ(printed(), "second\r\n\r\n");
  EXPECT_STREQ(copy.message, "first");
}

TEST_F(ExceptionReport, QuietModePrintsNothing) {
  exc_t::be_quiet(false);
  exc_timeout_t const shown("src/t", 1, "shown");
  exc_t::be_quiet(true);
  exc_timeout_t const hidden("src/t", 2, "hidden");
  exc_unmapped_t const also_hidden("src/t", 3, "also hidden", 5);
  EXPECT_EQ(printed(), "shown\r\n\r\n");
  EXPECT_EQ(qmgl_output_file::std_error().get_output_buffer_length(), 0);
}

TEST_F(ExceptionReport, WritesAllFourFields) {
  EXPECT_EQ(written(exc_unmapped_t("src/x", 12, "m", 7)), "exc 'src/x'  12   7  'm' ");
  EXPECT_EQ(written(exc_does_not_exist_t("src/y", -3, "no such job")),
            "exc 'src/y'  -3   537067554  'no such job' ");
  EXPECT_EQ(written(exc_unmapped_t("src/it's", 1, "don't", 0)),
            "exc 'src/it''s'  1   0  'don''t' ");
  EXPECT_EQ(written(exc_unmapped_t(nullptr, 0, "", 4294967295UL)), "exc ''  0   4294967295  '' ");
}

TEST_F(ExceptionReport, WritesTheStoredMessage) {
  std::string const long_message(200, 'q');
  EXPECT_EQ(written(exc_unmapped_t("src/z", 5, long_message.c_str(), 1)),
            "exc 'src/z'  5   1  '" + long_message.substr(0, 159) + "' ");
}

TEST_F(ExceptionReport, ReturnsTheStream) {
  qmgl_ntarray_of<char, 0> text;
  qmgl_output_str out(text);
  qmgl_output& result = out << exc_unmapped_t("f", 1, "m", 2);
  EXPECT_EQ(&result, &out);
  result << "|";
  EXPECT_EQ(std::string(text), "exc 'f'  1   2  'm' |");
}
