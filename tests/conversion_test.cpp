#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>

namespace {

using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;
using units = std::vector<unsigned short>;
using bytes = std::vector<unsigned char>;

uni wide(units u) {
  u.push_back(0);
  return uni(u.data());
}

// A narrow string holding exactly these bytes (any of them may be 0x80 or above).
str narrow(bytes const& b) {
  std::string s(b.begin(), b.end());
  return str(s.c_str(), static_cast<unsigned>(s.size()));
}

units text_of(uni const& w) {
  unsigned short const* p = w;
  return units(p, p + w.length());
}

bytes text_of(str const& s) {
  auto const* p = reinterpret_cast<unsigned char const*>(static_cast<char const*>(s));
  return bytes(p, p + s.length());
}

bytes to_utf8(units const& u) {
  return text_of(qmgl_uni_to_qmgl_str(wide(u).operator unsigned short const*()));
}

units to_utf16(bytes const& b) {
  return text_of(qmgl_str_to_qmgl_uni(narrow(b)));
}

// An encoder written from the UTF-8 table, independently of the library: pairs of surrogates
// make one code point, every other unit is its own code point.
bytes reference_utf8(units const& u) {
  bytes out;
  for (std::size_t i = 0; i < u.size(); ++i) {
    std::uint32_t cp = u[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
        u[i + 1] < 0xE000) {
      cp = 0x10000 + (((cp & 0x3FF) << 10) | (u[i + 1] & 0x3FF));
      ++i;
    }
    if (cp <= 0x7F) {
      out.push_back(static_cast<unsigned char>(cp));
    } else if (cp <= 0x7FF) {
      out.push_back(static_cast<unsigned char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else if (cp <= 0xFFFF) {
      out.push_back(static_cast<unsigned char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<unsigned char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

units pair_of(std::uint32_t cp) {
  return {static_cast<unsigned short>(0xD800 + ((cp - 0x10000) >> 10)),
          static_cast<unsigned short>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
}

TEST(Conversion, DocumentedExamples) {
  EXPECT_EQ(to_utf8({'H', 'i', '!'}), (bytes{'H', 'i', '!'}));
  EXPECT_EQ(to_utf16({'H', 'i', '!'}), (units{'H', 'i', '!'}));
  EXPECT_EQ(to_utf8({0x00E9}), (bytes{0xC3, 0xA9}));
  EXPECT_EQ(to_utf16({0xC3, 0xA9}), (units{0x00E9}));
  EXPECT_EQ(to_utf8({0x20AC}), (bytes{0xE2, 0x82, 0xAC}));
  EXPECT_EQ(to_utf16({0xE2, 0x82, 0xAC}), (units{0x20AC}));
  EXPECT_EQ(to_utf8({0xD83D, 0xDE00}), (bytes{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(to_utf16({0xF0, 0x9F, 0x98, 0x80}), (units{0xD83D, 0xDE00}));
  EXPECT_EQ(to_utf8({0xD800, 'A'}), (bytes{0xED, 0xA0, 0x80, 0x41})) << "unpaired lead";
  EXPECT_EQ(to_utf8({0xDC00, 0xD800}), (bytes{0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80}))
      << "trail before lead is no pair";
  EXPECT_EQ(to_utf8({0xD800}), (bytes{0xED, 0xA0, 0x80})) << "lead at the end";
  EXPECT_EQ(to_utf16({0xED, 0xA0, 0x80, 0x41}), (units{0xD800, 'A'}));
}

TEST(Conversion, EmptyAndNull) {
  str const from_null = qmgl_uni_to_qmgl_str(nullptr);
  EXPECT_TRUE(from_null.empty());
  EXPECT_STREQ(from_null, "");
  EXPECT_TRUE(qmgl_uni_to_qmgl_str(uni()).empty());
  uni const from_empty = qmgl_str_to_qmgl_uni(str());
  EXPECT_TRUE(from_empty.empty());
  EXPECT_EQ(static_cast<unsigned short const*>(from_empty)[0], 0);
}

TEST(Conversion, LenientDecoding) {
  EXPECT_EQ(to_utf16({0x80}), (units{0x0080})) << "a stray continuation byte stands for itself";
  EXPECT_EQ(to_utf16({0xBF, 'a'}), (units{0x00BF, 'a'}));
  EXPECT_EQ(to_utf16({0xC1, 0x81}), (units{0x0041})) << "overlong two-byte form";
  EXPECT_EQ(to_utf16({0xE0, 0x81, 0x81}), (units{0x0041})) << "overlong three-byte form";
  EXPECT_EQ(to_utf16({0xC3, 0x29}), (units{0x00E9 - 0x80}))
      << "continuation bytes are taken whatever they hold";
  EXPECT_EQ(to_utf16({0xEF, 0xFF, 0xFF}), pair_of(0x1103F)) << "a bad three-byte form above 0xFFFF";
  EXPECT_EQ(to_utf16({0xF4, 0x8F, 0xBF, 0xBF}), pair_of(0x10FFFF));
  EXPECT_EQ(to_utf16({0xF4, 0x90, 0x80, 0x80}), (units{0xFFFD})) << "above 0x10FFFF";
  EXPECT_EQ(to_utf16({0xF8, 0x88, 0x80, 0x80, 0x80}), (units{0xFFFD})) << "five-byte form";
  EXPECT_EQ(to_utf16({0xF8, 0x80, 0x80, 0x81, 0x81}), (units{0x0041})) << "overlong five-byte";
  EXPECT_EQ(to_utf16({0xFC, 0x80, 0x80, 0x80, 0x80, 0x81}), (units{0x0001})) << "overlong six-byte";
  EXPECT_EQ(to_utf16({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), (units{0xFFFD})) << "six-byte form";
  EXPECT_EQ(to_utf16({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), (units{0xFFFD}));
}

TEST(Conversion, DecodedZeroAddsNothingToTheWideText) {
  // Appending the unit 0 to a text leaves the text as it was, so the units that follow a
  // decoded 0 join the ones before it.
  uni const alone = qmgl_str_to_qmgl_uni(narrow({0xC0, 0x80}));
  EXPECT_EQ(alone.length(), 0u);
  EXPECT_EQ(static_cast<unsigned short const*>(alone)[0], 0);

  uni const inside = qmgl_str_to_qmgl_uni(narrow({'A', 0xC0, 0x80, 'B'}));
  EXPECT_EQ(text_of(inside), (units{'A', 'B'}));
  uni const last = qmgl_str_to_qmgl_uni(narrow({'A', 'B', 0xE0, 0x80, 0x80}));
  EXPECT_EQ(text_of(last), (units{'A', 'B'}));
}

TEST(Conversion, NarrowInputEndsAtItsLength) {
  // A narrow string whose array holds a cut-short sequence after its text: only the text is
  // converted.
  char const tail[] = {'\0', '\xC3'};
  str const s("ab", 2u, tail, 2u);
  ASSERT_EQ(s.length(), 2u);
  EXPECT_EQ(text_of(qmgl_str_to_qmgl_uni(s)), (units{'a', 'b'}));
}

TEST(Conversion, CutShortSequencesRaise) {
  for (bytes const& input : {bytes{0xC3}, bytes{0xE2, 0x82}, bytes{'a', 'b', 0xF0, 0x9F, 0x98},
                             bytes{0xF8, 0x80, 0x80, 0x80}, bytes{0xFC, 0x80, 0x80, 0x80, 0x80},
                             bytes{0xC3, 0xA9, 0xC3}}) {
    SCOPED_TRACE(::testing::PrintToString(input));
    try {
      uni const result = qmgl_str_to_qmgl_uni(narrow(input));
      FAIL() << "converted to " << ::testing::PrintToString(text_of(result));
    } catch (exc_unexpected_end_of_input_t const& e) {
      EXPECT_EQ(e.code, 0x2003000Bu);
      EXPECT_STREQ(e.message, "exc_unexpected_end_of_input");
      EXPECT_STREQ(e.file, "src/qmgl/qmgl_iconv");
      EXPECT_GT(e.line, 0);
    }
  }
  EXPECT_THROW(to_utf16({0xC3}), exc_domain_underflow_t);
  EXPECT_THROW(to_utf16({0xC3}), exc_logic_t);
}

TEST(Conversion, EveryBmpCodePointRoundTrips) {
  units all;
  for (std::uint32_t cp = 1; cp <= 0xFFFF; ++cp)
    if (cp < 0xD800 || cp > 0xDFFF) all.push_back(static_cast<unsigned short>(cp));
  bytes const utf8 = to_utf8(all);
  EXPECT_EQ(utf8, reference_utf8(all));
  EXPECT_EQ(utf8.size(), 0x7Fu + 2u * (0x7FF - 0x7F) + 3u * (0xFFFF - 0x7FF - 0x800));
  EXPECT_EQ(to_utf16(utf8), all);

  // Each on its own too, so that a failure names the code point.
  for (unsigned short cp : all) {
    units const one{cp};
    ASSERT_EQ(to_utf16(to_utf8(one)), one) << std::hex << cp;
  }
}

TEST(Conversion, SupplementaryCodePointsRoundTrip) {
  std::vector<std::uint32_t> sample = {0x10000, 0x10001, 0x1F600, 0x10FFFE, 0x10FFFF};
  for (std::uint32_t cp = 0x10000; cp <= 0x10FFFF; cp += 97)
    sample.push_back(cp);
  units all;
  for (std::uint32_t cp : sample) {
    units const pair = pair_of(cp);
    bytes const utf8 = to_utf8(pair);
    ASSERT_EQ(utf8.size(), 4u) << std::hex << cp;
    ASSERT_EQ(utf8, reference_utf8(pair)) << std::hex << cp;
    ASSERT_EQ(to_utf16(utf8), pair) << std::hex << cp;
    all.insert(all.end(), pair.begin(), pair.end());
  }
  EXPECT_EQ(to_utf16(to_utf8(all)), all);
}

TEST(Conversion, AgreesWithAReferenceEncoderOnRandomText) {
  std::mt19937 random(20240611);
  auto pick = [&random](std::uint32_t low, std::uint32_t high) {
    return std::uniform_int_distribution<std::uint32_t>(low, high)(random);
  };
  for (int round = 0; round < 2000; ++round) {
    units text;
    std::uint32_t const size = pick(0, 64);
    while (text.size() < size) {
      switch (pick(0, 5)) {
        case 0:
          text.push_back(static_cast<unsigned short>(pick(1, 0x7F)));
          break;
        case 1:
          text.push_back(static_cast<unsigned short>(pick(0x80, 0x7FF)));
          break;
        case 2:
          text.push_back(static_cast<unsigned short>(pick(0x800, 0xFFFF)));
          break;
        case 3:
          text.push_back(static_cast<unsigned short>(pick(0xD800, 0xDFFF)));
          break;
        default: {
          units const pair = pair_of(pick(0x10000, 0x10FFFF));
          text.insert(text.end(), pair.begin(), pair.end());
        }
      }
    }
    bytes const utf8 = to_utf8(text);
    ASSERT_EQ(utf8, reference_utf8(text)) << "round " << round;
    // Decoding gives back every unit, lone surrogates included.
    ASSERT_EQ(to_utf16(utf8), text) << "round " << round;
  }
}

TEST(Conversion, ArgumentIsShared) {
  str const text("shared");
  uni const w = qmgl_str_to_qmgl_uni(text);
  EXPECT_EQ(text._imp->count.value(), 1) << "the by-value copy is released";
  EXPECT_EQ(text_of(w), (units{'s', 'h', 'a', 'r', 'e', 'd'}));
  EXPECT_EQ(w._imp->count.value(), 1);
}

}  // namespace
