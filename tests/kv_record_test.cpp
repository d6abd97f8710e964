// The key-value service's log records: their text, reading them back, and a log cut short
// anywhere, which must never read as a record it is not.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kv_checksum.h"
#include "kv_record.h"
#include "support/value_helpers.h"

namespace {

kv_change put_of(std::uint32_t seq, std::string key, qmgl_value value) {
  kv_change change;
  change.seq = seq;
  change.key = std::move(key);
  change.value = std::move(value);
  return change;
}

kv_change change_of(kv_change::kind_t kind, std::uint32_t seq, std::string key,
                    std::uint64_t deadline = 0) {
  kv_change change;
  change.kind = kind;
  change.seq = seq;
  change.key = std::move(key);
  change.deadline = deadline;
  return change;
}

std::string record_text(kv_change const& change) {
  text_sink out;
  kv_write_record(out, change);
  return out.text;
}

// Every record of a log's text, and how the text ended.
struct read_back {
  std::vector<kv_change> records;
  kv_read_result::status_t ending = kv_read_result::end;
  std::string problem;
  std::size_t offset = 0;
};

read_back read_text(std::string const& text) {
  read_back back;
  std::size_t at = 0;
  for (;;) {
    kv_read_result next = kv_read_record(text, at);
    if (next.status != kv_read_result::record) {
      back.ending = next.status;
      back.problem = next.problem;
      back.offset = next.offset;
      return back;
    }
    back.records.push_back(std::move(next.change));
  }
}

void expect_same(kv_change const& a, kv_change const& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.seq, b.seq);
  EXPECT_EQ(a.key, b.key);
  EXPECT_EQ(text_of(a.value), text_of(b.value));
  EXPECT_EQ(a.deadline, b.deadline);
}

std::vector<kv_change> every_kind() {
  return {put_of(1, "null", qmgl_value()),
          put_of(2, "bool", qmgl_value(true)),
          put_of(3, "bool3", qmgl_value(qmgl_bool3_unknown)),
          put_of(4, "int", qmgl_value(-2147483647 - 1)),
          put_of(5, "it's", qmgl_value("line one\nit's 'quoted'")),
          put_of(6, "uni", qmgl_value(wide(u"caf\u00e9 \"x\""))),
          put_of(7, "bin", bin({0x00, 0xff, 0x0a, 0x20})),
          put_of(8, "array", qmgl_value(array_list({1, "a", qmgl_value()}))),
          change_of(kv_change::expire, 9, "int", 4000000000u),
          change_of(kv_change::expire, 9, "int", 0x100000005u),
          change_of(kv_change::del, 10, "bool"),
          change_of(kv_change::base, 0xFFFFFFFFu, "")};
}

}  // namespace

TEST(KvRecord, ChecksumIsTheZipCrc32) {
  EXPECT_EQ(kv_crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(kv_crc32("", 0), 0u);
}

TEST(KvRecord, TextIsLengthChecksumBodyAndLineFeed) {
  EXPECT_EQ(record_text(put_of(7, "greeting", "hello")),
            "28  343023920  7  'put' 'greeting' 'hello' \n");
  EXPECT_EQ(record_text(change_of(kv_change::expire, 8, "greeting", 1765000000)),
            "35  1822424352  8  'expire' 'greeting' 1765000000  \n");
  EXPECT_EQ(record_text(change_of(kv_change::del, 9, "greeting")),
            "20  3832187323  9  'del' 'greeting' \n");
  // Sequence numbers above 2^31 keep their 32 bits through the INT text; deadlines past 2^32
  // add an INT of their high bits.
  std::string const base = record_text(change_of(kv_change::base, 0xFFFFFFFFu, ""));
  EXPECT_EQ(base.substr(base.find("  -1")), "  -1  'base' \n");
  std::string const far = record_text(change_of(kv_change::expire, 1, "k", 0x100000005u));
  EXPECT_EQ(far.substr(far.find("  1  ")), "  1  'expire' 'k' 5  1  \n");
}

TEST(KvRecord, EveryKindAndValueTypeReadsBack) {
  std::string text;
  for (kv_change const& change : every_kind())
    text += record_text(change);
  read_back const back = read_text(text);
  EXPECT_EQ(back.ending, kv_read_result::end) << back.problem;
  ASSERT_EQ(back.records.size(), every_kind().size());
  for (std::size_t i = 0; i < back.records.size(); ++i)
    expect_same(back.records[i], every_kind()[i]);
}

TEST(KvRecord, AnEmptyLogOrTrailingWhiteSpaceEndsCleanly) {
  EXPECT_EQ(read_text("").ending, kv_read_result::end);
  read_back const back = read_text(record_text(put_of(1, "k", 1)) + " \n\r\n");
  EXPECT_EQ(back.ending, kv_read_result::end);
  EXPECT_EQ(back.records.size(), 1u);
}

// A crash may cut the log after any byte. Whatever is left reads as the whole records before
// the cut and then either a clean end (a cut between records) or a damaged end, never as a
// record that was not written.
TEST(KvRecord, ALogCutAfterAnyByteReadsAsTheRecordsBeforeTheCut) {
  std::vector<kv_change> const written = every_kind();
  std::string text;
  std::vector<std::size_t> boundaries{0};
  for (kv_change const& change : written) {
    text += record_text(change);
    boundaries.push_back(text.size());
  }
  for (std::size_t cut = 0; cut < text.size(); ++cut) {
    std::string const left = text.substr(0, cut);
    read_back const back = read_text(left);
    std::size_t whole = 0;
    while (boundaries[whole + 1] <= cut)
      ++whole;
    ASSERT_EQ(back.records.size(), whole) << "cut at " << cut;
    for (std::size_t i = 0; i < whole; ++i)
      expect_same(back.records[i], written[i]);
    bool const at_boundary = boundaries[whole] == cut;
    EXPECT_EQ(back.ending, at_boundary ? kv_read_result::end : kv_read_result::damaged)
        << "cut at " << cut << ": " << back.problem;
    if (!at_boundary) {
      EXPECT_EQ(back.offset, boundaries[whole]) << "cut at " << cut;
      EXPECT_FALSE(kv_record_follows(left, back.offset)) << "cut at " << cut;  // a torn tail
    }
  }
}

// Damage is reported with its offset, never read; whether whole records follow it tells
// damage inside the log from a torn tail.
TEST(KvRecord, DamageIsReportedWithItsOffsetAndTheRecordsAfterIt) {
  std::string const first = record_text(put_of(1, "a", "alpha"));
  std::string const third = record_text(put_of(3, "c", "gamma"));
  std::string flipped = record_text(put_of(2, "b", "beta"));
  flipped[flipped.find("beta")] = 'B';
  std::string longer = record_text(put_of(2, "b", "beta"));
  longer.insert(longer.size() - 1, "x");
  struct {
    std::string damage;
    char const* problem;
  } const cases[] = {
      {flipped, "record whose checksum does not match"},
      {longer, "record without its line feed"},
      {"hello world\n", "record without a valid length"},
      {"12  x\n", "record without a checksum"},
  };
  for (auto const& c : cases) {
    read_back const at_end = read_text(first + c.damage);
    EXPECT_EQ(at_end.records.size(), 1u) << c.problem;
    EXPECT_EQ(at_end.ending, kv_read_result::damaged) << c.problem;
    EXPECT_EQ(at_end.problem, c.problem);
    EXPECT_EQ(at_end.offset, first.size()) << c.problem;
    EXPECT_FALSE(kv_record_follows(first + c.damage, at_end.offset)) << c.problem;
    EXPECT_TRUE(kv_record_follows(first + c.damage + third, at_end.offset)) << c.problem;
  }
}
