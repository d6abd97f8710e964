#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <wygl/qmgl_exc.h>
#include <wygl/qmgl_ntarray.h>

namespace {

using str = qmgl_ntarray_of<char, 0>;
using uni = qmgl_ntarray_of<unsigned short, 0>;

// The first n elements of a string's array, terminators included.
template <class S>
auto elements(S const& s, std::size_t n) {
  auto const* p = static_cast<std::remove_cvref_t<decltype(*s._imp->data)> const*>(s);
  return std::vector<std::remove_cvref_t<decltype(*p)>>(p, p + n);
}

// The wide text of a string literal of ASCII or of explicit units.
std::vector<unsigned short> units(std::u16string const& text) {
  return {text.begin(), text.end()};
}

// A UTF-16 literal as the units the wide string takes.
unsigned short const* w16(char16_t const* text) {
  return reinterpret_cast<unsigned short const*>(text);
}

template <class S>
std::vector<unsigned short> text_of(S const& w) {
  return elements(w, w.length());
}

long count_of(auto const& s) {
  return s._imp->count.value();
}

TEST(Strings, DefaultAndNullAreEmpty) {
  str s;
  EXPECT_EQ(s.length(), 0u);
  EXPECT_TRUE(s.empty());
  ASSERT_NE(static_cast<char const*>(s), nullptr);
  EXPECT_EQ(static_cast<char const*>(s)[0], '\0');

  char const* null_text = nullptr;
  for (str const& t : {str(null_text), str(null_text, 5u), str(null_text, null_text),
                       str(null_text, 0u, null_text, 0u), str("", 3u)}) {
    EXPECT_EQ(t.length(), 0u);
    EXPECT_TRUE(t.empty());
    EXPECT_STREQ(t, "");
  }

  uni w;
  EXPECT_TRUE(w.empty());
  EXPECT_EQ(static_cast<unsigned short const*>(w)[0], 0);
  unsigned short const* null_units = nullptr;
  EXPECT_TRUE(uni(null_units).empty());

  str assigned("abc");
  assigned = null_text;
  EXPECT_TRUE(assigned.empty());
}

TEST(Strings, ConstructorsCopyTheirText) {
  char buffer[] = "abc";
  str s(buffer);
  buffer[0] = 'X';
  EXPECT_STREQ(s, "abc") << "the string holds its own copy";
  EXPECT_EQ(s.length(), 3u);
  EXPECT_FALSE(s.empty());

  EXPECT_STREQ(str("abc", 10u), "abc");
  EXPECT_EQ(str("abc", 10u).length(), 3u);
  EXPECT_STREQ(str("abcdef", 3u), "abc");
  EXPECT_STREQ(str("abcdef", 0u), "");
  char const stops[] = {'a', 'b', '\0', 'c', 'd'};
  EXPECT_EQ(str(stops, 5u).length(), 2u) << "the bounded copy stops at an element 0";

  EXPECT_STREQ(str("ab", "cde"), "abcde");
  EXPECT_EQ(str("ab", "cde").length(), 5u);
  char const* null_text = nullptr;
  EXPECT_STREQ(str(null_text, "cd"), "cd");
  EXPECT_STREQ(str("ab", null_text), "ab");

  EXPECT_STREQ(str("abc", 1u, "def", 2u), "ade");

  unsigned short const wide[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0};
  uni w(wide);
  EXPECT_EQ(w.length(), 5u);
  EXPECT_EQ(text_of(w), units(u"A\u00E9\u20AC\U0001F600"));
  EXPECT_EQ(text_of(uni(wide, 2u)), units(u"A\u00E9"));
  EXPECT_EQ(text_of(uni(wide, wide + 2)), units(u"A\u00E9\u20AC\U0001F600\u20AC\U0001F600"));
}

TEST(Strings, TwoPartConstructorCopiesExactCounts) {
  char const a[] = {'x', '\0', 'q'};
  char const b[] = {'y', 'z'};
  str s(a, 2u, b, 2u);
  // Exactly four elements before the terminator, an element 0 among them.
  EXPECT_EQ(elements(s, 5), (std::vector<char>{'x', '\0', 'y', 'z', '\0'}));
  EXPECT_EQ(s.length(), 1u) << "the text ends at the first element 0";
  EXPECT_STREQ(s, "x");
  EXPECT_EQ(s + "!", "x!") << "operations go by the text, not the array";

  str in_b("ab", 2u, "c\0d", 3u);
  EXPECT_EQ(in_b.length(), 3u);
  EXPECT_EQ(elements(in_b, 6), (std::vector<char>{'a', 'b', 'c', '\0', 'd', '\0'}));

  char const* null_text = nullptr;
  str zeros("ab", 2u, null_text, 2u);
  EXPECT_EQ(elements(zeros, 5), (std::vector<char>{'a', 'b', '\0', '\0', '\0'}));
  EXPECT_EQ(zeros.length(), 2u);

  unsigned short const wa[] = {0, 0x41};
  unsigned short const wb[] = {0x42};
  uni w(wa, 2u, wb, 1u);
  EXPECT_EQ(elements(w, 4), (std::vector<unsigned short>{0, 0x41, 0x42, 0}));
  EXPECT_EQ(w.length(), 0u);
  EXPECT_TRUE(w.empty());
}

TEST(Strings, CopiesShareAndChangesRebind) {
  str s("abc");
  EXPECT_EQ(count_of(s), 1);
  str t = s;
  EXPECT_EQ(static_cast<char const*>(t), static_cast<char const*>(s)) << "a copy shares the array";
  EXPECT_EQ(count_of(s), 2);

  s += 'd';
  EXPECT_STREQ(t, "abc");
  EXPECT_STREQ(s, "abcd");
  EXPECT_EQ(count_of(t), 1);
  EXPECT_EQ(count_of(s), 1);

  str u;
  u = t;
  EXPECT_EQ(count_of(t), 2);
  u = "other";
  EXPECT_EQ(count_of(t), 1);
  EXPECT_STREQ(t, "abc");
  EXPECT_STREQ(u, "other");
}

TEST(Strings, SelfAssignmentAndSelfAppend) {
  str s("ab");
  str const& same = s;
  s = same;
  EXPECT_STREQ(s, "ab");
  EXPECT_EQ(count_of(s), 1);

  s += s;
  EXPECT_STREQ(s, "abab");
  EXPECT_EQ(s.length(), 4u);

  s = static_cast<char const*>(s) + 1;  // a pointer into the string's own array
  EXPECT_STREQ(s, "bab");
  EXPECT_EQ(count_of(s), 1);

  uni w(w16(u"xy"));
  w += w;
  EXPECT_EQ(text_of(w), units(u"xyxy"));
}

TEST(Strings, AppendingAnElementZeroKeepsTheText) {
  str s("abc");
  str z = s + '\0';
  EXPECT_EQ(elements(z, 5), (std::vector<char>{'a', 'b', 'c', '\0', '\0'}));
  EXPECT_EQ(z.length(), 3u);
  EXPECT_EQ(z, static_cast<char const*>(s));
  EXPECT_EQ(z, s);
  EXPECT_STREQ(z + 'd', "abcd") << "the next append starts from the text's end";

  str e;
  e += '\0';
  EXPECT_EQ(elements(e, 2), (std::vector<char>{'\0', '\0'}));
  EXPECT_TRUE(e.empty());

  uni w(w16(u"ab"));
  uni wz = w + static_cast<unsigned short>(0);
  EXPECT_EQ(elements(wz, 4), (std::vector<unsigned short>{'a', 'b', 0, 0}));
  EXPECT_EQ(wz.length(), 2u);
  EXPECT_EQ(text_of(w + static_cast<unsigned short>(0x20AC)), units(u"ab\u20AC"));
}

TEST(Strings, ConcatenationForms) {
  str s("ab");
  str t("cd");
  char const* null_text = nullptr;
  EXPECT_STREQ(s + t, "abcd");
  EXPECT_STREQ(s + "xyz", "abxyz");
  EXPECT_EQ((s + "xyz").length(), 5u);
  EXPECT_STREQ(s + null_text, "ab");
  EXPECT_STREQ(s + 'c', "abc");
  EXPECT_STREQ(str() + str(), "");
  EXPECT_STREQ(s, "ab") << "s itself is unchanged";

  str u("x");
  u += t;
  EXPECT_STREQ(u, "xcd");
  u += "ef";
  EXPECT_STREQ(u, "xcdef");
  u += null_text;
  EXPECT_STREQ(u, "xcdef");
  u -= 2;
  EXPECT_STREQ(u, "xcd");
  EXPECT_EQ(u.length(), 3u);
}

TEST(Strings, DroppingTheEnd) {
  str s("abcde");
  EXPECT_STREQ(s - 2, "abc");
  EXPECT_EQ((s - 2).length(), 3u);
  EXPECT_STREQ(s - 0, "abcde");
  EXPECT_STREQ(s - (-3), "abcde") << "a negative count keeps the whole text";
  EXPECT_EQ((s - (-3)).length(), 5u);
  EXPECT_STREQ(s - 5, "");

  // On an array that holds elements past its text, the count still starts from the text.
  str z = s + '\0';
  EXPECT_STREQ(z - 1, "abcd");

  uni w(w16(u"abcde"));
  EXPECT_EQ(text_of(w - 2), units(u"abc"));
  EXPECT_EQ(text_of(w - (-1)), units(u"abcde"));
}

TEST(Strings, Substrings) {
  str s("hello");
  EXPECT_STREQ(s.substring(1, 3), "ell");
  EXPECT_STREQ(s.substring(1, 100), "ello") << "n beyond the end stops at the end";
  EXPECT_STREQ(s.substring(0, 5), "hello");
  EXPECT_STREQ(s.substring(5, 2), "");
  EXPECT_STREQ(s.substring(2, 0), "");
  EXPECT_EQ(s.substring(1, 3).length(), 3u);

  uni w(w16(u"h\u00E9llo"));
  EXPECT_EQ(text_of(w.substring(1, 2)), units(u"\u00E9l"));
}

TEST(Strings, CompoundOperatorsReturnASeparateHandle) {
  str s("ab");
  str r = (s += 'c');
  EXPECT_STREQ(r, "abc");
  EXPECT_EQ(static_cast<char const*>(r), static_cast<char const*>(s)) << "a copy of the new *this";
  r = "other";
  EXPECT_STREQ(s, "abc") << "assigning through the returned value leaves s alone";

  (s += "d") = "changed";
  EXPECT_STREQ(s, "abcd");
  (s -= 1) += 'x';
  EXPECT_STREQ(s, "abc");
  (s += str("e")) = "changed";
  EXPECT_STREQ(s, "abce");
  static_assert(std::is_same_v<decltype(s += 'c'), str>);
  static_assert(std::is_same_v<decltype(s -= 1), str>);
}

// The documented comparison, written out from its description.
template <class T, class Key>
int documented_compare(T const* a, T const* b, Key key) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return key(*a) > key(*b) ? 1 : key(*a) == key(*b) ? 0 : -1;
}

TEST(Strings, NarrowComparisonIsSignedWideIsUnsigned) {
  EXPECT_EQ(str::compare("", ""), 0);
  EXPECT_EQ(str::compare("\xE9t\xE9", "ete"), -1) << "0xE9 sorts before a lowercase letter";
  EXPECT_EQ(str::compare("ete", "\xE9t\xE9"), 1);
  EXPECT_EQ(str::compare("abc", "abc"), 0);
  EXPECT_EQ(str::compare("abc", "abd"), -1);
  EXPECT_EQ(str::compare("abc", "ab"), 1);
  EXPECT_EQ(str::compare("ab", "abc"), -1);
  EXPECT_EQ(str::compare("ab", "ab\xE9"), 1) << "the end (0) is above a negative byte";

  unsigned short const e_acute[] = {0xE9, 0};
  unsigned short const e[] = {'e', 0};
  unsigned short const empty[] = {0};
  unsigned short const ab[] = {'a', 'b', 0};
  unsigned short const ab_high[] = {'a', 'b', 0xE9, 0};
  EXPECT_EQ(uni::compare(empty, empty), 0);
  EXPECT_EQ(uni::compare(e_acute, e), 1);
  EXPECT_EQ(uni::compare(e, e_acute), -1);
  EXPECT_EQ(uni::compare(ab, ab_high), -1);
  unsigned short const max_unit[] = {0xFFFF, 0};
  unsigned short const low_unit[] = {0x7FFF, 0};
  EXPECT_EQ(uni::compare(max_unit, low_unit), 1);
}

TEST(Strings, ComparisonOperatorsAgreeWithCompare) {
  std::vector<char const*> const texts = {"",     "a",     "ab",     "abc",  "abd", "b",
                                          "\xE9", "a\xE9", "ab\x80", "\x7F", "zz"};
  auto key = [](char c) { return static_cast<int>(static_cast<signed char>(c)); };
  for (char const* x : texts)
    for (char const* y : texts) {
      SCOPED_TRACE(std::string("'") + x + "' vs '" + y + "'");
      int const c = documented_compare(x, y, key);
      EXPECT_EQ(str::compare(x, y), c);
      str const s(x);
      str const t(y);
      EXPECT_EQ(s == y, c == 0);
      EXPECT_EQ(s != y, c != 0);
      EXPECT_EQ(s < y, c < 0);
      EXPECT_EQ(s <= y, c <= 0);
      EXPECT_EQ(s > y, c > 0);
      EXPECT_EQ(s >= y, c >= 0);
      EXPECT_EQ(s == t, c == 0);
      EXPECT_EQ(s != t, c != 0);
      EXPECT_EQ(s < t, c < 0);
      EXPECT_EQ(s <= t, c <= 0);
      EXPECT_EQ(s > t, c > 0);
      EXPECT_EQ(s >= t, c >= 0);
    }

  // Long texts that differ at any place, or where one ends, past the blocks compared at once.
  std::string const base(300, 'q');
  std::vector<std::string> variants;
  for (std::size_t at : {0u, 15u, 16u, 17u, 63u, 64u, 65u, 128u, 200u, 299u}) {
    for (char c : {'\xF0', 'a', 'z'}) {
      std::string other = base;
      other[at] = c;
      variants.push_back(other);
    }
    variants.push_back(base.substr(0, at));
    variants.push_back(base.substr(0, at) + '\xF0');
  }
  variants.push_back(base);
  variants.push_back(base + "q");
  variants.push_back(base + '\x80');
  for (auto const& x : variants)
    for (auto const& y : variants) {
      int const c = documented_compare(x.c_str(), y.c_str(), key);
      str const s(x.c_str());
      str const t(y.c_str());
      ASSERT_EQ(str::compare(x.c_str(), y.c_str()), c) << x.size() << " vs " << y.size();
      ASSERT_EQ(s < y.c_str(), c < 0) << x.size() << " vs " << y.size();
      ASSERT_EQ(s == y.c_str(), c == 0) << x.size() << " vs " << y.size();
      ASSERT_EQ(s > t, c > 0) << x.size() << " vs " << y.size();
      ASSERT_EQ(s == t, c == 0) << x.size() << " vs " << y.size();
    }

  // Wide, with units above 0x7FFF.
  std::vector<std::u16string> const wide = {
      u"", u"a", u"ab", u"\u00E9", u"\uFFFF", u"\u8000a", std::u16string{u'a', char16_t{0xD800}}};
  auto wkey = [](unsigned short u) { return static_cast<int>(u); };
  for (auto const& x : wide)
    for (auto const& y : wide) {
      auto const* px = reinterpret_cast<unsigned short const*>(x.c_str());
      auto const* py = reinterpret_cast<unsigned short const*>(y.c_str());
      int const c = documented_compare(px, py, wkey);
      uni const s(px);
      uni const t(py);
      EXPECT_EQ(uni::compare(px, py), c);
      EXPECT_EQ(s < py, c < 0);
      EXPECT_EQ(s <= t, c <= 0);
      EXPECT_EQ(s > t, c > 0);
      EXPECT_EQ(s == t, c == 0);
    }
}

TEST(Strings, FindCountsFromStart) {
  str s("abcabc");
  EXPECT_EQ(s.find('c', 0), 2);
  EXPECT_EQ(s.find('c', 2), 0);
  EXPECT_EQ(s.find('c', 3), 2);
  EXPECT_EQ(s.find('a', 1), 2);
  EXPECT_EQ(s.find('z', 0), -1);
  EXPECT_EQ(s.find('a', 6), -1);
  EXPECT_EQ(s.find('\0', 0), -1) << "the terminator is not searched";
  EXPECT_EQ(str().find('a', 0), -1);
  EXPECT_EQ(str("x\xE9y").find('\xE9', 0), 1);

  str z("ab", 2u, "\0c", 2u);  // "ab", then 0 and 'c' past the text
  EXPECT_EQ(z.find('c', 0), -1);
}

TEST(Strings, OversizedTextsRaiseNotEnoughMemory) {
  // A text of more than 0xFFFFFFFE elements cannot be made; the size is refused before either
  // part is read.
  char const a[] = "a";
  try {
    str s(a, 0xFFFFFFFFu, a, 1u);
    FAIL() << "no exception";
  } catch (exc_not_enough_memory_t const& e) {
    EXPECT_EQ(e.code, 0x20000001u);
    EXPECT_STREQ(e.message, "not enough memory");
    EXPECT_STREQ(e.file, "src/qmgl/qmgl_ntarray");
    EXPECT_GT(e.line, 0);
  }
  unsigned short const w[] = {1, 0};
  EXPECT_THROW(uni(w, 0x80000000u, w, 0x80000000u), exc_not_enough_memory_t);
}

TEST(Strings, HandlesSharedAcrossThreads) {
  // Eight threads copy, reassign and destroy handles on one body at once; afterwards the count
  // is back where it started and the text unchanged.
  str const shared("shared text that every thread copies");
  constexpr int thread_count = 8;
  constexpr int rounds = 20000;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t)
    threads.emplace_back([&shared, &ready] {
      ready.fetch_add(1);
      while (ready.load() < thread_count) {
      }
      str mine = shared;
      std::vector<str> copies;
      for (int i = 0; i < rounds; ++i) {
        copies.push_back(mine);
        str other(copies.back());
        mine = other;
        if (copies.size() == 16) copies.clear();
      }
    });
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(count_of(shared), 1);
  EXPECT_STREQ(shared, "shared text that every thread copies");
}

TEST(Strings, LastHandleReleasedOnAnyThread) {
  // The creating thread lets go first; the worker threads hold the only handles and race to
  // release them, so one of them frees the body (checked by the sanitizers: no leak, no double
  // free, no race).
  for (int round = 0; round < 100; ++round) {
    auto* s = new str("released by one of the workers");
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([copy = *s, &go]() mutable {
        while (!go.load()) {
        }
        str again = copy;
        copy = str();
      });
    delete s;
    go.store(true);
    for (auto& th : threads)
      th.join();
  }
}

}  // namespace
