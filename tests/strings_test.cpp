// Reference-counted strings: the texts they are built with, sharing, comparison and search,
// handles shared between threads, and the conversion between wide (UTF-16) and narrow (UTF-8)
// text.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_iconv.h>
#include <wygl/qmgl_ntarray.h>

#include "support/raised.h"

namespace {

using namespace std::string_literals;
using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;
using units = std::vector<unsigned short>;
using bytes = std::vector<unsigned char>;

unsigned short const* w16(char16_t const* text) {
  return reinterpret_cast<unsigned short const*>(text);
}

long count_of(auto const& s) {
  return s._imp->count.value();
}

// A string, the elements its array must start with (terminators included) and its length.
template <class S, class Text>
struct built {
  S made;
  Text elements;
  unsigned length;
};

template <class S, class Text>
void expect_built(std::vector<built<S, Text>> const& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    auto const& r = rows[i];
    auto const* p = r.made._imp->data;
    EXPECT_EQ(Text(p, p + r.elements.size()), r.elements) << "row " << i;
    EXPECT_EQ(r.made.length(), r.length) << "row " << i;
    EXPECT_EQ(r.made.empty(), r.length == 0) << "row " << i;
  }
}

// The documented comparison, element by element: narrow elements as signed bytes, wide ones as
// unsigned 16-bit units.
template <class T>
int documented_compare(T const* a, T const* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  using key = std::conditional_t<std::is_same_v<T, char>, signed char, unsigned short>;
  return key(*a) > key(*b) ? 1 : key(*a) == key(*b) ? 0 : -1;
}

template <class S, class T>
void expect_compares_as_documented(T const* x, T const* y) {
  int const c = documented_compare(x, y);
  S const s(x);
  S const t(y);
  EXPECT_EQ(S::compare(x, y), c);
  EXPECT_EQ((std::vector<bool>{s == y, s != y, (s < y), s <= y, (s > y), s >= y, s == t, s != t,
                               (s < t), s <= t, (s > t), s >= t}),
            (std::vector<bool>{c == 0, c != 0, (c < 0), c <= 0, (c > 0), c >= 0, c == 0, c != 0,
                               (c < 0), c <= 0, (c > 0), c >= 0}));
}

bytes to_utf8(units u) {
  u.push_back(0);
  str const s = qmgl_uni_to_qmgl_str(u.data());
  auto const* p = reinterpret_cast<unsigned char const*>(static_cast<char const*>(s));
  return bytes(p, p + s.length());
}

// From exactly these bytes (any of them may be 0x80 or above).
units to_utf16(bytes const& b) {
  std::string const text(b.begin(), b.end());
  uni const w = qmgl_str_to_qmgl_uni(str(text.c_str(), static_cast<unsigned>(text.size())));
  unsigned short const* p = w;
  return units(p, p + w.length());
}

}  // namespace

TEST(Strings, BuiltTexts) {
  char const* const null_text = nullptr;
  char const stops[] = {'a', 'b', '\0', 'c', 'd'};
  char const zero_inside[] = {'x', '\0', 'q'};
  str const s("abc");
  str const five("abcde");
  expect_built<str, std::string>({
      {str(), "\0"s, 0},
      {str(null_text), "\0"s, 0},
      {str(null_text, 5u), "\0"s, 0},
      {str(null_text, null_text), "\0"s, 0},
      {str("abc", 10u), "abc\0"s, 3},
      {str("abcdef", 3u), "abc\0"s, 3},
      {str(stops, 5u), "ab\0"s, 2},  // the bounded copy stops at an element 0
      {str("ab", "cde"), "abcde\0"s, 5},
      {str(null_text, "cd"), "cd\0"s, 2},
      {str("ab", null_text), "ab\0"s, 2},
      // The two-part form copies exactly na and nb elements; the text ends at the first 0.
      {str(zero_inside, 2u, "yz", 2u), "x\0yz\0"s, 1},
      {str("ab", 2u, "c\0d", 3u), "abc\0d\0"s, 3},
      {str("ab", 2u, null_text, 2u), "ab\0\0\0"s, 2},
      {str(null_text, 1u, "ab", 2u), "\0ab\0"s, 0},
      // Appending the element 0 keeps the text; the next append starts from the text's end.
      {s + '\0', "abc\0\0"s, 3},
      {s + '\0' + 'd', "abcd\0"s, 4},
      {str() + '\0', "\0\0"s, 0},
      {s + str("de"), "abcde\0"s, 5},
      {s + "xyz", "abcxyz\0"s, 6},
      {s + null_text, "abc\0"s, 3},
      {str(zero_inside, 2u, "yz", 2u) + "!", "x!\0"s, 2},  // operations go by the text
      {five - 2, "abc\0"s, 3},
      {five - (-3), "abcde\0"s, 5},  // a negative count keeps the whole text
      {five - 5, "\0"s, 0},
      {(five + '\0') - 1, "abcd\0"s, 4},
      {five.substring(1, 100), "bcde\0"s, 4},
      {five.substring(5, 2), "\0"s, 0},
      {str("x") += str("cd"), "xcd\0"s, 3},
      {str("x") += "ef", "xef\0"s, 3},
      {str("x") += null_text, "x\0"s, 1},
      {str("x") += 'c', "xc\0"s, 2},
      {str("xcdef") -= 2, "xcd\0"s, 3},
  });
  EXPECT_STREQ(s, "abc") << "s itself is unchanged";

  unsigned short const* const null_units = nullptr;
  unsigned short const wide[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
  unsigned short const wa[] = {0, 0x41};
  uni const ab(w16(u"ab"));
  expect_built<uni, std::u16string>({
      {uni(), u"\0"s, 0},
      {uni(null_units), u"\0"s, 0},
      {uni(wide), u"A\u00E9\u20AC\U0001F600\0"s, 5},
      {uni(wide, 2u), u"A\u00E9\0"s, 2},
      {uni(wide, wide + 2), u"A\u00E9\u20AC\U0001F600\u20AC\U0001F600\0"s, 8},
      {uni(wa, 2u, w16(u"B"), 1u), u"\0AB\0"s, 0},
      {ab + static_cast<unsigned short>(0), u"ab\0\0"s, 2},
      {ab + static_cast<unsigned short>(0x20AC), u"ab\u20AC\0"s, 3},
      {uni(w16(u"abcde")) - 2, u"abc\0"s, 3},
      {uni(w16(u"abcde")) - (-1), u"abcde\0"s, 5},
      {uni(w16(u"h\u00E9llo")).substring(1, 2), u"\u00E9l\0"s, 2},
      {uni(w16(u"h\u00E9llo")).substring(2, 9), u"llo\0"s, 3},
  });
}

TEST(Strings, CopiesShareTheArrayAndChangesRebind) {
  char buffer[] = "abc";
  str s(buffer);
  buffer[0] = 'X';
  str const t = s;
  EXPECT_EQ(static_cast<char const*>(t), static_cast<char const*>(s)) << "a copy shares";
  EXPECT_EQ(count_of(s), 2);

  str r = (s += 'd');
  static_assert(std::is_same_v<decltype(s += 'd'), str> && std::is_same_v<decltype(s -= 1), str>);
  EXPECT_EQ(static_cast<char const*>(r), static_cast<char const*>(s)) << "a copy of the new *this";
  EXPECT_STREQ(t, "abc") << "the string holds its own copy, which changes never touch";
  EXPECT_EQ(count_of(t), 1);
  r = "other";
  EXPECT_STREQ(s, "abcd") << "assigning through the returned value leaves s alone";
  EXPECT_EQ(count_of(s), 1);
  (s -= 1) += 'x';
  EXPECT_STREQ(s, "abc");

  s = static_cast<str const&>(s);
  EXPECT_EQ(count_of(s), 1);
  s += s;
  EXPECT_STREQ(s, "abcabc");
  s = static_cast<char const*>(s) + 1;  // a pointer into the string's own array
  EXPECT_STREQ(s, "bcabc");
  s = static_cast<char const*>(nullptr);
  EXPECT_TRUE(s.empty());
  uni w(w16(u"xy"));
  w += w;
  EXPECT_TRUE(w == w16(u"xyxy"));
}

TEST(Strings, ComparisonIsSignedForNarrowAndUnsignedForWideElements) {
  EXPECT_EQ(str::compare("\xE9t\xE9", "ete"), -1);
  EXPECT_EQ(uni::compare(w16(u"\u00E9"), w16(u"e")), 1);

  for (char const* x : {"", "a", "ab", "abc", "abd", "b", "\xE9", "a\xE9", "ab\x80", "\x7F"})
    for (char const* y : {"", "a", "ab", "abc", "abd", "b", "\xE9", "a\xE9", "ab\x80", "\x7F"}) {
      SCOPED_TRACE(std::string("'") + x + "' vs '" + y + "'");
      expect_compares_as_documented<str>(x, y);
    }
  // Long texts that differ at any place, or where one ends, past the blocks compared at once.
  std::string const base(300, 'q');
  std::vector<std::string> variants = {base, base + "q", base + '\x80'};
  for (std::size_t at : {0u, 15u, 16u, 17u, 63u, 64u, 65u, 128u, 200u, 299u}) {
    for (char c : {'\xF0', 'a', 'z'})
      variants.push_back(base.substr(0, at) + c + base.substr(at + 1));
    variants.push_back(base.substr(0, at));
    variants.push_back(base.substr(0, at) + '\xF0');
  }
  for (auto const& x : variants)
    for (auto const& y : variants) {
      SCOPED_TRACE(std::to_string(x.size()) + " vs " + std::to_string(y.size()));
      expect_compares_as_documented<str>(x.c_str(), y.c_str());
    }
  std::u16string const wide[] = {u"", u"a", u"ab", u"\u00E9", u"\uFFFF", u"\u8000a", u"a\xD800"};
  for (auto const& x : wide)
    for (auto const& y : wide)
      expect_compares_as_documented<uni>(w16(x.c_str()), w16(y.c_str()));
}

TEST(Strings, FindCountsFromStartAndOversizedTextsRaise) {
  str const s("abcabc");
  str const past("ab", 2u, "\0c", 2u);  // 'c' lies past the text
  EXPECT_EQ((std::vector<int>{s.find('c', 0), s.find('c', 2), s.find('c', 3), s.find('a', 1),
                              s.find('z', 0), s.find('a', 6), s.find('\0', 0), str().find('a', 0),
                              str("x\xE9y").find('\xE9', 0), past.find('c', 0)}),
            (std::vector<int>{2, 0, 2, 2, -1, -1, -1, -1, 1, -1}));

  // More than 0xFFFFFFFE elements: refused before either part is read.
  raised const r = raise_of([] { str("a", 0xFFFFFFFFu, "a", 1u); });
  EXPECT_EQ(r.type, typeid(exc_not_enough_memory_t));
  EXPECT_EQ(r.message, "not enough memory");
  EXPECT_STREQ(r.file, "src/qmgl/qmgl_ntarray");
  unsigned short const w[] = {1, 0};
  EXPECT_THROW(uni(w, 0x80000000u, w, 0x80000000u), exc_not_enough_memory_t);
}

TEST(Strings, HandlesSharedAcrossThreads) {
  // Eight threads copy, reassign and destroy handles on one body at once; afterwards the count
  // is back where it started and the text unchanged.
  str const shared("shared text that every thread copies");
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([mine = shared, &go]() mutable {
      while (!go.load()) {
      }
      std::vector<str> copies;
      for (int i = 0; i < 20000; ++i) {
        copies.push_back(mine);
        mine = str(copies.back());
        if (copies.size() == 16) copies.clear();
      }
    });
  go.store(true);
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(count_of(shared), 1);
  EXPECT_STREQ(shared, "shared text that every thread copies");
}

TEST(Strings, ConversionFormsBothWaysAndLenientDecoding) {
  struct {
    units wide;
    bytes narrow;
    bool both_ways;  // else only from narrow to wide
  } const cases[] = {
      {{}, {}, true},
      {{'H', 'i', '!'}, {'H', 'i', '!'}, true},
      {{0x7F}, {0x7F}, true},
      {{0x80}, {0xC2, 0x80}, true},
      {{0x00E9}, {0xC3, 0xA9}, true},
      {{0x7FF}, {0xDF, 0xBF}, true},
      {{0x800}, {0xE0, 0xA0, 0x80}, true},
      {{0x20AC}, {0xE2, 0x82, 0xAC}, true},
      {{0xFFFF}, {0xEF, 0xBF, 0xBF}, true},
      {{0xD800, 0xDC00}, {0xF0, 0x90, 0x80, 0x80}, true},
      {{0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}, true},
      {{0xDBFF, 0xDFFF}, {0xF4, 0x8F, 0xBF, 0xBF}, true},
      // Unpaired surrogates are encoded like any other unit.
      {{0xD800, 'A'}, {0xED, 0xA0, 0x80, 0x41}, true},
      {{0xD800}, {0xED, 0xA0, 0x80}, true},
      {{0xDBFF, 0xE000}, {0xED, 0xAF, 0xBF, 0xEE, 0x80, 0x80}, true},
      {{0xDC00, 0xD800}, {0xED, 0xB0, 0x80, 0xED, 0xA0, 0x80}, true},
      {{0xD800, 0xD800, 0xDC00}, {0xED, 0xA0, 0x80, 0xF0, 0x90, 0x80, 0x80}, true},
      // Decoding is lenient: stray continuation bytes stand for themselves, continuation bytes
      // are taken whatever they hold, overlong forms are accepted, and what UTF-16 cannot hold
      // becomes 0xFFFD.
      {{0x0080}, {0x80}, false},
      {{0x0041}, {0xC1, 0x81}, false},
      {{0x0069}, {0xC3, 0x29}, false},
      {{0xD804, 0xDC3F}, {0xEF, 0xFF, 0xFF}, false},
      {{0xFFFD}, {0xF4, 0x90, 0x80, 0x80}, false},
      {{0xFFFD}, {0xF8, 0x88, 0x80, 0x80, 0x80}, false},
      {{0x0041}, {0xF8, 0x80, 0x80, 0x81, 0x81}, false},
      {{0x0001}, {0xFC, 0x80, 0x80, 0x80, 0x80, 0x81}, false},
      {{0xFFFD}, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, false},
      // A decoded 0 adds nothing to the text, as appending the unit 0 would not.
      {{}, {0xC0, 0x80}, false},
      {{'A', 'B'}, {'A', 0xC0, 0x80, 'B'}, false},
      {{'A', 'B'}, {'A', 'B', 0xE0, 0x80, 0x80}, false},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.narrow));
    EXPECT_EQ(to_utf16(c.narrow), c.wide);
    if (c.both_ways) {
      EXPECT_EQ(to_utf8(c.wide), c.narrow);
    }
  }
  EXPECT_TRUE(qmgl_uni_to_qmgl_str(nullptr).empty());
  // Only the narrow text is converted, not what its array holds after it.
  uni const w = qmgl_str_to_qmgl_uni(str("ab", 2u, "\0\xC3", 2u));
  EXPECT_TRUE(w == reinterpret_cast<unsigned short const*>(u"ab"));
}

TEST(Strings, ConversionOfCutShortSequencesRaises) {
  for (bytes const& input : {bytes{0xC3}, bytes{0xE2, 0x82}, bytes{'a', 'b', 0xF0, 0x9F, 0x98},
                             bytes{0xF8, 0x80, 0x80, 0x80}, bytes{0xFC, 0x80, 0x80, 0x80, 0x80},
                             bytes{0xC3, 0xA9, 0xC3}}) {
    raised const r = raise_of([&] { to_utf16(input); });
    EXPECT_EQ(r.type, typeid(exc_unexpected_end_of_input_t)) << testing::PrintToString(input);
    EXPECT_EQ(r.message, "exc_unexpected_end_of_input");
    EXPECT_STREQ(r.file, "src/qmgl/qmgl_iconv");
  }
}

TEST(Strings, ConversionRoundTripsEveryCodePoint) {
  // Every unit of the basic plane, each surrogate followed by a letter so that none pairs.
  units plane;
  for (std::uint32_t cp = 1; cp <= 0xFFFF; ++cp) {
    plane.push_back(static_cast<unsigned short>(cp));
    if (cp >= 0xD800 && cp <= 0xDFFF) plane.push_back('x');
  }
  EXPECT_EQ(to_utf16(to_utf8(plane)), plane);

  units pairs;
  for (std::uint32_t cp = 0x10000; cp <= 0x10FFFF; cp += 97)
    pairs.insert(pairs.end(), {static_cast<unsigned short>(0xD800 + ((cp - 0x10000) >> 10)),
                               static_cast<unsigned short>(0xDC00 + ((cp - 0x10000) & 0x3FF))});
  bytes const utf8 = to_utf8(pairs);
  EXPECT_EQ(utf8.size(), pairs.size() * 2) << "four bytes a pair";
  EXPECT_EQ(to_utf16(utf8), pairs);
}
