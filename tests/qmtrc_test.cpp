// Tests of the trace library qmtrc and of qmtrc_dump's formatting.

#include <qmtrc/qmtrc.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "../qmtrc/src/mask_parse.h"
#include "dump_command.h"
#include "dump_format.h"
#include "support/temp_dir.h"
#include "wygl/wytr_ids.h"

namespace {

using namespace wytr;

constexpr std::size_t kRecordOverhead = 52;
const std::string kFileHeader("QMTRC\r\n\x1A\1\0\0\0\x10\0\0\0", 16);

struct Kept {
  std::uint64_t sequence, time_ns, object;
  std::uint32_t thread, kind, tracepoint;
  std::string data, data2 = {}, data3 = {};
};

void keep_into(const qmtrc_record* r, void* context) {
  auto item = [r](int i) {
    EXPECT_NE(r->data[i], nullptr);  // also for an empty item
    return std::string(reinterpret_cast<const char*>(r->data[i]), r->length[i]);
  };
  static_cast<std::vector<Kept>*>(context)->push_back({r->sequence, r->time_ns, r->object,
                                                       r->thread, r->kind, r->tracepoint, item(0),
                                                       item(1), item(2)});
}

std::vector<Kept> drain_all() {
  std::vector<Kept> records;
  qmtrc_drain(&keep_into, &records);
  return records;
}

void write_text(std::uint32_t kind, std::uint32_t tracepoint, std::uintptr_t object,
                const std::string& text) {
  trcwriterec(kind, tracepoint, reinterpret_cast<const void*>(object),
              static_cast<std::uint32_t>(text.size()), text.data(), 0, nullptr, 0, nullptr);
}

std::string little_endian(std::uint64_t value, int size) {
  std::string bytes;
  for (int i = 0; i < size; ++i)
    bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

// A record in the ring and in the file, as qmtrc/README.md documents it: a 52-byte header,
// then the data items.
std::string record_bytes(const Kept& r) {
  auto le = little_endian;
  const std::string data = r.data + r.data2 + r.data3;
  return le(kRecordOverhead + data.size(), 4) + le(r.kind, 4) + le(r.tracepoint, 4) +
         le(r.thread, 4) + le(r.sequence, 8) + le(r.time_ns, 8) + le(r.object, 8) +
         le(r.data.size(), 4) + le(r.data2.size(), 4) + le(r.data3.size(), 4) + data;
}

class Qmtrc : public ::testing::Test {
 protected:
  static constexpr std::size_t kCapacity = std::size_t{4} << 20;  // the default
  void TearDown() override {
    qmtrc_set_file(nullptr);  // before dir goes: Windows does not remove an open file
    qmtrc_set_sink(nullptr, nullptr);
    qmtrc_set_ring_capacity(kCapacity);
    qmtrc_clear();
  }
  temp_dir dir;
};

TEST_F(Qmtrc, MaskTakesNumbersAndLevelNames) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"2048", 0x800u},
      {"0XfFfFfFfF", 0xFFFFFFFFu},
      {"  ", 0u},
      {"exception,operation", 0x1040u},
      {"Lifetime, 0x40", 0x840u},
      {" error\t", 0x8u},
      {"operation-exit,resource,inner,inner-exit,state,wait", 0x4076000u},
      {"ALL", 0xFFFFFFFFu}};
  for (const auto& [text, mask] : cases)
    EXPECT_EQ(qmtrc::parse_mask(text), mask) << '"' << text << '"';
  for (const char* text : {"operations", "exception|", ",error", "1 2", "0x", "0x8g", "4294967296"})
    EXPECT_EQ(qmtrc::parse_mask(text), std::nullopt) << '"' << text << '"';
}

TEST_F(Qmtrc, RecordReachesRingAndFileWhole) {
  const std::string path = dir.file("run.qmtrc"), large(200 * 1024, 'L');
  char first[] = "ab", third[] = "\0\1\xFF";
  for (int run = 0; run < 2; ++run) {  // the second run appends to the first one's file
    ASSERT_EQ(qmtrc_set_file(path.c_str()), 0);
    trcwriterec(0x06200000, 0x140D0D00, &dir, 2, first, 0, nullptr, 3, third);
    // Too large for the drain's first batch, the record fills the second one.
    if (run == 0) write_text(1, 1, 0, large);
    ASSERT_EQ(qmtrc_set_file(nullptr), 0);
  }
  std::memset(first, 'x', sizeof first);
  std::memset(third, 0x55, sizeof third);

  const auto now = std::chrono::system_clock::now();
  std::vector<Kept> kept = drain_all();
  ASSERT_EQ(kept.size(), 3u);
  const Kept& k = kept[0];
  EXPECT_EQ(std::tie(k.kind, k.tracepoint, k.object, k.data, k.data2, k.data3),
            std::make_tuple(0x06200000u, 0x140D0D00u, reinterpret_cast<std::uintptr_t>(&dir), "ab",
                            "", std::string("\0\1\xFF", 3)));
  EXPECT_NE(k.thread, 0u);
  EXPECT_NEAR(k.time_ns / 1e9, std::chrono::duration<double>(now.time_since_epoch()).count(), 60);
  EXPECT_EQ(kept[1].data, large);
  EXPECT_EQ(std::tie(kept[2].sequence, kept[2].thread), std::make_tuple(k.sequence + 2, k.thread));
  EXPECT_EQ(file_contents(path),
            kFileHeader + record_bytes(k) + record_bytes(kept[1]) + record_bytes(kept[2]));

  write_file(dir.file("notes.txt"), "not a trace, keep me");
  EXPECT_EQ(qmtrc_set_file(dir.file("notes.txt").c_str()), -1);
  EXPECT_EQ(file_contents(dir.file("notes.txt")), "not a trace, keep me");
  EXPECT_EQ(qmtrc_set_file(dir.file("no/such/dir.qmtrc").c_str()), -1);
}

TEST_F(Qmtrc, FullRingDropsOldestWholeAndCountsThemLost) {
  // Never drained while writing, so the ring keeps dropping one or more of its oldest records
  // for each new one, and the records wrap around its end at every place, headers included.
  constexpr std::size_t kRing = 1000, kWritten = 400;
  auto pattern = [](std::size_t seed) {  // distinct bytes: a piece from the wrong place shows
    std::string bytes(seed % 151, '\0');
    std::iota(bytes.begin(), bytes.end(), static_cast<char>(seed * 31));
    return bytes;
  };
  EXPECT_EQ(qmtrc_set_ring_capacity(kRing), kCapacity);
  for (std::size_t i = 0; i < kWritten; ++i)
    write_text(1, 1, i, pattern(i));
  std::size_t first_kept = kWritten;
  for (std::size_t used = 0; used + kRecordOverhead + (first_kept - 1) % 151 <= kRing;)
    used += kRecordOverhead + --first_kept % 151;
  write_text(1, 1, 0, std::string(kRing - kRecordOverhead + 1, 'x'));  // larger than the ring
  EXPECT_EQ(qmtrc_lost(), first_kept + 1);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), kWritten - first_kept);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].object, first_kept + i);
    EXPECT_EQ(records[i].data, pattern(first_kept + i));
  }
  qmtrc_clear();
  EXPECT_EQ(qmtrc_lost(), 0u);

  // Records written while a drain runs, here by its visitor, wait for the next drain.
  write_text(1, 1, 0, "old");
  auto write_back = [](const qmtrc_record*, void*) { write_text(1, 1, 0, "new"); };
  EXPECT_EQ(qmtrc_drain(write_back, nullptr), 1u);
  records = drain_all();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].data, "new");
}

TEST_F(Qmtrc, SinkSeesEachRecordOnceUntilRemoved) {
  std::vector<Kept> seen;
  qmtrc_set_sink(
      [](const qmtrc_record* record, void* context) {
        keep_into(record, context);
        write_text(2, 2, 2, "from sink");  // kept, but not handed to the sink again
      },
      &seen);
  trcwriterec(7, 8, &seen, 3, "one", 0, nullptr, 3, "two");
  std::vector<Kept> kept = drain_all();
  EXPECT_EQ(qmtrc_set_ring_capacity(0), kCapacity);
  write_text(7, 8, 10, "sink only");
  qmtrc_set_sink(nullptr, nullptr);
  write_text(7, 8, 11, "after removal");

  EXPECT_EQ(drain_all().size(), 0u);
  EXPECT_EQ(qmtrc_lost(), 0u);
  ASSERT_EQ(seen.size(), 2u);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(record_bytes(seen[0]), record_bytes(kept[0]));
  EXPECT_EQ(kept[1].data, "from sink");
  EXPECT_EQ(seen[1].data, "sink only");
}

TEST_F(Qmtrc, SetSinkWaitsForRunningCall) {
  struct Blocking {
    std::promise<void> entered, release;
    std::atomic<bool> finished{false};
  } blocking;
  std::future<void> entered = blocking.entered.get_future();
  qmtrc_set_sink(
      [](const qmtrc_record*, void* context) {
        auto* b = static_cast<Blocking*>(context);
        b->entered.set_value();
        b->release.get_future().wait_for(std::chrono::seconds(30));
        b->finished = true;
      },
      &blocking);
  std::thread writer([] { write_text(1, 1, 1, "blocked in sink"); });
  EXPECT_EQ(entered.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  // Released while this thread replaces the sink, which must wait for the sink to return.
  std::thread releaser([&] { blocking.release.set_value(); });
  qmtrc_set_sink(nullptr, nullptr);
  EXPECT_TRUE(blocking.finished);
  releaser.join();
  writer.join();
}

// Every field of a record tells who wrote it, so that a torn record shows as a mismatch.
TEST_F(Qmtrc, ThreadsWritingWhileDrainedLoseAndTearNothing) {
  constexpr std::uint32_t kWriters = 8, kPerWriter = 5000;
  std::atomic<std::uint32_t> finished{0};
  std::vector<std::thread> threads;
  for (std::uint32_t w = 0; w < kWriters; ++w)
    threads.emplace_back([&, w] {
      for (std::uint32_t n = 0; n < kPerWriter; ++n)
        write_text(w, n, w * kPerWriter + n, std::to_string(w) + ":" + std::to_string(n));
      ++finished;
    });
  std::vector<Kept> records;
  while (finished < kWriters)
    qmtrc_drain(&keep_into, &records);
  for (std::thread& t : threads)
    t.join();
  qmtrc_drain(&keep_into, &records);
  EXPECT_EQ(qmtrc_lost(), 0u);
  ASSERT_EQ(records.size(), std::size_t{kWriters} * kPerWriter);
  std::vector<std::uint32_t> next(kWriters, 0), thread_of(kWriters, 0);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Kept& r = records[i];
    const std::uint32_t w = r.kind, n = next.at(w)++;
    ASSERT_EQ(r.tracepoint, n) << "writer " << w;
    EXPECT_EQ(r.data, std::to_string(w) + ":" + std::to_string(n));
    EXPECT_GT(r.sequence, i > 0 ? records[i - 1].sequence : 0);
    if (thread_of[w] == 0) thread_of[w] = r.thread;
    EXPECT_EQ(r.thread, thread_of[w]);
  }
  EXPECT_EQ(std::set<std::uint32_t>(thread_of.begin(), thread_of.end()).size(), kWriters);
}

// Two runs of a program: on thread 1 an operation with an inner one whose exit is missing; on
// thread 2 an error, an exit without entry, an operation left open; on thread 3 an unknown kind.
constexpr std::uint64_t kStart = 1738311302123456789;  // 2025-01-31T08:15:02.123456789Z

const Kept kKnownTrace[] = {
    {1, kStart, 0x10, 1, kind_word(kind::public_entered), tp::file_read, ""},
    {2, kStart + 1500, 0x20, 2, kind_word(kind::error_text), tp::socket_read, "\"no\"\t\x01\\\r\n"},
    {3, kStart + 2000, 0x10, 1, kind_word(kind::inner_entered), tp::file_seek, ""},
    {4, kStart + 3250, 0x10, 1, kind_word(kind::public_left), tp::file_read, little_endian(0, 4)},
    {5, kStart + 4000, 0x20, 2, kind_word(kind::public_left_in_exception), tp::socket_read,
     "a\x7f"},
    {6, kStart + 5000, 0x30, 2, kind_word(kind::public_entered), tp::timer_remove, "ab\x80"},
    {7, kStart + 6000, 0x123456789, 3, 0x06990000, tracepoint(0x7E, 0x05), ""},
    {8, kStart + 6500, 0x10, 3, kind_word(kind::inner_left), tp::file_seek, ""},
    {1, kStart + 10'000'000'000, 0x1, 1, kind_word(kind::state_note), tp::timer_create, "\xC3\xA9"},
};
const char* const kKnownLines[] = {
    "     1 2025-01-31T08:15:02.123456Z t1   entered qmgl_file::read 0x10\n",
    "     2 2025-01-31T08:15:02.123458Z t2   error qmgl_socket::read 0x20 "
    "\"\\\"no\\\"\\t\\x01\\\\\\r\\n\"\n",
    "     3 2025-01-31T08:15:02.123458Z t1   inner-entered qmgl_file::seek 0x10\n",
    "     4 2025-01-31T08:15:02.123460Z t1   left qmgl_file::read 0x10 code=0x00000000\n",
    "     5 2025-01-31T08:15:02.123460Z t2   left-in-exception qmgl_socket::read 0x20 \"a\\x7f\"\n",
    "     6 2025-01-31T08:15:02.123461Z t2   entered qmgl_timer::remove 0x30 \"ab\x80\"\n",
    "     7 2025-01-31T08:15:02.123462Z t3   kind_0x06990000 class_0x7e::op_0x05 0x123456789\n",
    "     8 2025-01-31T08:15:02.123463Z t3   inner-left qmgl_file::seek 0x10\n",
    "     1 2025-01-31T08:15:12.123456Z t1   state qmgl_timer::create 0x1 \"\xC3\xA9\"\n",
};

// The file of the first count records of the known trace, and their dump lines.
std::string known_trace(std::size_t count = std::size(kKnownTrace)) {
  std::string bytes = kFileHeader;
  for (std::size_t i = 0; i < count; ++i)
    bytes += record_bytes(kKnownTrace[i]);
  return bytes;
}
std::string lines(const std::string& indexes) {  // "0237": records 0, 2, 3 and 7
  std::string out;
  for (char i : indexes)
    out += kKnownLines[i - '0'];
  return out;
}

// What qmtrc_dump writes with these arguments, and its exit status.
struct command_result {
  int status;
  std::string out, err;
};
command_result run_dump(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"qmtrc_dump"};
  for (const std::string& arg : args)
    argv.push_back(arg.c_str());
  std::ostringstream out, err;
  const int status = qmtrc::dump::run_command(static_cast<int>(argv.size()), argv.data(), out, err);
  return {status, out.str(), err.str()};
}

TEST_F(Qmtrc, DumpShowsColumnsFiltersAndDamage) {
  const std::string path = dir.file("known.qmtrc");
  write_file(path, known_trace());
  const struct {
    std::vector<std::string> options;
    const char* shown;
  } cases[] = {{{}, "012345678"},
               {{"--level", "operation-exit", "--thread", "1"}, "3"},
               {{"--thread=3,1"}, "023678"},
               {{"--tracepoint", "qmgl_file::seek,class_0x7e, qmgl_timer"}, "25678"},
               {{"--level=error", "--text", "no"}, "1"},
               {{"--level", "state", "--text", "no"}, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    std::vector<std::string> args = c.options;
    args.push_back(path);
    const command_result r = run_dump(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, lines(c.shown));
  }
  EXPECT_EQ(run_dump({"--relative", "--thread", "2", "--text", "b\x80", path}).out,
            "     6    +0.000005 t2   entered qmgl_timer::remove 0x30 \"ab\x80\"\n");

  EXPECT_EQ(run_dump({"--chrome", path}).out, R"({"traceEvents":[
{"ph":"B","name":"qmgl_file::read","cat":"operation","ts":0.000,"pid":1,"tid":1,"args":{"seq":1,"object":"0x10"}},
{"ph":"i","s":"t","name":"error qmgl_socket::read","cat":"error","ts":1.500,"pid":1,"tid":2,"args":{"seq":2,"object":"0x20","text":"\"no\"\t\u0001\\\r\n"}},
{"ph":"B","name":"qmgl_file::seek","cat":"inner","ts":2.000,"pid":1,"tid":1,"args":{"seq":3,"object":"0x10"}},
{"ph":"E","name":"qmgl_file::seek","cat":"operation","ts":3.250,"pid":1,"tid":1,"args":{"exit":"none"}},
{"ph":"E","name":"qmgl_file::read","cat":"operation","ts":3.250,"pid":1,"tid":1,"args":{"exit":"left","code":"0x00000000"}},
{"ph":"i","s":"t","name":"left-in-exception qmgl_socket::read","cat":"operation-exit","ts":4.000,"pid":1,"tid":2,"args":{"seq":5,"object":"0x20","text":"a)"
                                              "\x7f"
                                              R"("}},
{"ph":"B","name":"qmgl_timer::remove","cat":"operation","ts":5.000,"pid":1,"tid":2,"args":{"seq":6,"object":"0x30","text":"ab\\x80"}},
{"ph":"i","s":"t","name":"kind_0x06990000 class_0x7e::op_0x05","cat":"other","ts":6.000,"pid":1,"tid":3,"args":{"seq":7,"object":"0x123456789"}},
{"ph":"i","s":"t","name":"inner-left qmgl_file::seek","cat":"inner","ts":6.500,"pid":1,"tid":3,"args":{"seq":8,"object":"0x10"}},
{"ph":"i","s":"t","name":"state qmgl_timer::create","cat":"state","ts":10000000.000,"pid":2,"tid":1,"args":{"seq":1,"object":"0x1","text":"é"}}
],"displayTimeUnit":"ns","otherData":{"start":"2025-01-31T08:15:02.123456Z"}}
)");

  const std::string whole = known_trace(8), h = kFileHeader.substr(0, 8);
  const struct {
    std::string bytes;
    std::string_view error;
  } damaged[] = {
      {known_trace().substr(0, whole.size() + 53),
       "truncated last record at offset 450 (53 of 54 bytes), not shown"},
      {known_trace().substr(0, whole.size() + 10),
       "truncated last record at offset 450 (10 bytes of its header), not shown"},
      {whole + "\x40" + std::string(51, '\0'),
       "corrupt record at offset 450: its size 64 does not match its lengths"},
      {"QMTRC\n", "not a qmtrc trace file"},
      {"QMTRX" + kFileHeader.substr(5), "not a qmtrc trace file"},
      {h + little_endian(2, 4) + little_endian(16, 4), "unsupported trace file version 2"},
      {h + little_endian(1, 4) + little_endian(8, 4), "bad file header size 8"},
      {h + little_endian(1, 4) + little_endian(20, 4), "truncated file header"},
  };
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.error);
    write_file(path, c.bytes);
    const command_result r = run_dump({path});
    EXPECT_EQ(r.status, c.error.starts_with("truncated last") ? 0 : 1);  // records before shown
    EXPECT_EQ(r.out, lines(c.bytes.starts_with(whole) ? "01234567" : ""));
    EXPECT_EQ(r.err, "qmtrc_dump: " + path + ": " + std::string(c.error) + "\n");
  }
  const std::string missing = dir.file("missing");
  EXPECT_EQ(run_dump({missing}).err,
            "qmtrc_dump: " + missing + ": cannot open the file: " + std::strerror(ENOENT) + "\n");

  const struct {
    std::vector<std::string> args;
    const char* error;
  } wrong[] = {{{}, "no trace file given"},
               {{path, path}, "more than one file"},
               {{"--thread", "1,,2", path}, "--thread 1,,2: not thread numbers"},
               {{"--level=bogus", path}, "--level bogus: not levels (see --help)"},
               {{"--frob", path}, "unknown option --frob"},
               {{path, "--text"}, "--text needs a value"}};
  for (const auto& c : wrong) {
    const command_result r = run_dump(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "qmtrc_dump: " + std::string(c.error));
    EXPECT_NE(r.err.find("\nusage: qmtrc_dump [--relative]"), std::string::npos) << c.error;
  }
  const command_result help = run_dump({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find("usage: qmtrc_dump"), 0u);
  EXPECT_NE(help.out.find("LEVELS, as QMTRC_MASK takes them: a number, decimal (2048) or "
                          "hexadecimal (0x800), or level names joined by commas (exception,"
                          "operation): error,"),
            std::string::npos);
  EXPECT_EQ(run_dump({"--", "-"}).err,
            "qmtrc_dump: -: cannot open the file: " + std::string(std::strerror(ENOENT)) + "\n");
}

}  // namespace
