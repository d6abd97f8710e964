// Tests of the trace library qmtrc and of qmtrc_dump's formatting.

#include <qmtrc/qmtrc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../qmtrc/src/mask_parse.h"
#include "../qmtrc/src/record_format.h"
#include "dump_format.h"
#include "trace_reader.h"
#include "wygl/wytr_ids.h"

namespace {

namespace fs = std::filesystem;

// A record's header in the ring and in the file, as documented in qmtrc/README.md.
constexpr std::size_t kRecordOverhead = 52;
constexpr std::size_t kFileHeaderSize = 16;

struct Kept {
  std::uint64_t sequence, time_ns, object;
  std::uint32_t thread, kind, tracepoint;
  std::string data[3];
};

Kept keep(const qmtrc_record& record) {
  Kept kept{record.sequence,
            record.time_ns,
            record.object,
            record.thread,
            record.kind,
            record.tracepoint,
            {}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NE(record.data[i], nullptr);
    kept.data[i].assign(reinterpret_cast<const char*>(record.data[i]), record.length[i]);
  }
  return kept;
}

void keep_into(const qmtrc_record* record, void* context) {
  static_cast<std::vector<Kept>*>(context)->push_back(keep(*record));
}

std::vector<Kept> drain_all() {
  std::vector<Kept> records;
  std::size_t visited = qmtrc_drain(&keep_into, &records);
  EXPECT_EQ(visited, records.size());
  return records;
}

const void* object(std::uintptr_t value) {
  return reinterpret_cast<const void*>(value);
}

void write_text(std::uint32_t kind, std::uint32_t tracepoint, std::uintptr_t obj,
                std::string_view text) {
  trcwriterec(kind, tracepoint, object(obj), static_cast<std::uint32_t>(text.size()), text.data(),
              0, nullptr, 0, nullptr);
}

std::uint32_t current_mask() {
  std::uint32_t mask = qmtrc_set_mask(0);
  qmtrc_set_mask(mask);
  return mask;
}

// A one-shot event whose wait gives up after a time limit instead of hanging a test.
class Event {
 public:
  void set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() /
            ("qmtrc_test_" + std::to_string(random()) + "_" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path file(const char* name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string read_file(const fs::path& path) {
  std::string bytes(static_cast<std::size_t>(fs::file_size(path)), '\0');
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Stops the trace file when a test ends, even a failed one, before its directory is removed
// (Windows refuses to remove an open file).
struct StopFileAtExit {
  ~StopFileAtExit() { qmtrc_set_file(nullptr); }
};

class Qmtrc : public ::testing::Test {
 protected:
  static constexpr std::size_t kCapacity = std::size_t{4} << 20;

  void SetUp() override {
    saved_mask_ = current_mask();
    saved_capacity_ = qmtrc_set_ring_capacity(kCapacity);
    qmtrc_clear();
  }
  void TearDown() override {
    qmtrc_set_sink(nullptr, nullptr);
    qmtrc_set_ring_capacity(saved_capacity_);
    qmtrc_clear();
    qmtrc_set_mask(saved_mask_);
  }

  std::uint32_t saved_mask_ = 0;
  std::size_t saved_capacity_ = 0;
};

TEST_F(Qmtrc, MaskStartsFromEnvironment) {
  const char* text = std::getenv("QMTRC_MASK");
  EXPECT_EQ(saved_mask_, text ? qmtrc::parse_mask(text).value_or(0) : 0u);
}

TEST_F(Qmtrc, MaskTakesNumbersAndLevelNames) {
  const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
      {"2048", 0x800u},
      {"0x800", 0x800u},
      {"0XfFfFfFfF", 0xFFFFFFFFu},
      {"4294967295", 0xFFFFFFFFu},
      {"", 0u},
      {"  ", 0u},
      {"exception,operation", 0x1040u},
      {"Lifetime, 0x40", 0x840u},
      {" error\t", 0x8u},
      {"operation-exit,resource,inner,inner-exit,state,wait", 0x4076000u},
      {"ALL", 0xFFFFFFFFu},
      {"everything", std::nullopt},
      {"operations", std::nullopt},
      {"exception|operation", std::nullopt},
      {"exception,", std::nullopt},
      {",exception", std::nullopt},
      {"1 2", std::nullopt},
      {"0x", std::nullopt},
      {"0x8g", std::nullopt},
      {"12a", std::nullopt},
      {"-1", std::nullopt},
      {"4294967296", std::nullopt},
      {"0x100000000", std::nullopt},
  };
  for (const auto& [text, mask] : cases)
    EXPECT_EQ(qmtrc::parse_mask(text), mask) << '"' << text << '"';
}

TEST_F(Qmtrc, SetMaskStoresAndReturnsPrevious) {
  qmtrc_set_mask(0x1000);
  EXPECT_EQ(qmtrc_set_mask(0x4040008), 0x1000u);
  EXPECT_EQ(std::atomic_ref<std::uint32_t>(trcevents).load(), 0x4040008u);
  EXPECT_EQ(qmtrc_set_mask(0), 0x4040008u);
  EXPECT_EQ(trcevents, 0u);
}

TEST_F(Qmtrc, RecordIsCopiedWhole) {
  char first[] = "first item";
  unsigned char third[] = {0, 1, 2, 0xFF};
  auto before = std::chrono::system_clock::now();
  trcwriterec(0x06040000, 0x140D0D00, object(0xABCD), 10, first, 0, nullptr, 4, third);
  auto after = std::chrono::system_clock::now();
  std::memset(first, 'x', sizeof first);
  std::memset(third, 0x55, sizeof third);

  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 1u);
  const Kept& r = records[0];
  EXPECT_EQ(r.kind, 0x06040000u);
  EXPECT_EQ(r.tracepoint, 0x140D0D00u);
  EXPECT_EQ(r.object, 0xABCDu);
  EXPECT_EQ(r.data[0], "first item");
  EXPECT_EQ(r.data[1], "");
  EXPECT_EQ(r.data[2], std::string("\0\1\2\xFF", 4));
  EXPECT_NE(r.thread, 0u);
  auto ns = [](auto t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  };
  EXPECT_GE(r.time_ns, static_cast<std::uint64_t>(ns(before)));
  EXPECT_LE(r.time_ns, static_cast<std::uint64_t>(ns(after)));
}

TEST_F(Qmtrc, DrainGivesOldestFirstAndRemoves) {
  for (std::string_view text : {"a", "bb", "ccc"})
    write_text(1, 2, 3, text);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].data[0], "a");
  EXPECT_EQ(records[1].data[0], "bb");
  EXPECT_EQ(records[2].data[0], "ccc");
  EXPECT_EQ(records[1].sequence, records[0].sequence + 1);
  EXPECT_EQ(records[2].sequence, records[0].sequence + 2);
  EXPECT_EQ(records[0].thread, records[2].thread);
  EXPECT_EQ(qmtrc_drain(&keep_into, &records), 0u);
}

TEST_F(Qmtrc, RecordsWrittenDuringDrainWaitForNextDrain) {
  write_text(1, 1, 0, "old 1");
  write_text(1, 1, 0, "old 2");
  auto write_back = [](const qmtrc_record*, void*) { write_text(1, 1, 0, "new"); };
  EXPECT_EQ(qmtrc_drain(write_back, nullptr), 2u);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data[0], "new");
}

TEST_F(Qmtrc, DrainCopesWithManyAndLargeRecords) {
  const std::string large(200 * 1024, 'L');
  for (int i = 0; i < 3000; ++i) {
    if (i == 1500) write_text(2, 2, 2, large);
    write_text(1, 1, static_cast<std::uintptr_t>(i), std::string(100, static_cast<char>(i)));
  }
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 3001u);
  for (std::size_t i = 0, n = 0; i < records.size(); ++i) {
    if (i == 1500) {
      EXPECT_EQ(records[i].data[0], large);
      continue;
    }
    EXPECT_EQ(records[i].object, n);
    EXPECT_EQ(records[i].data[0], std::string(100, static_cast<char>(n)));
    ++n;
  }
}

TEST_F(Qmtrc, ClearEmptiesRingAndResetsLost) {
  qmtrc_set_ring_capacity(kRecordOverhead);
  write_text(1, 1, 1, "");
  write_text(1, 1, 2, "");
  EXPECT_EQ(qmtrc_lost(), 1u);
  qmtrc_clear();
  EXPECT_EQ(qmtrc_lost(), 0u);
  EXPECT_EQ(drain_all().size(), 0u);
}

TEST_F(Qmtrc, FullRingDropsOldest) {
  EXPECT_EQ(qmtrc_set_ring_capacity(3 * (kRecordOverhead + 8)), kCapacity);
  for (std::string_view text : {"record 1", "record 2", "record 3", "record 4", "record 5"})
    write_text(1, 1, 0, text);
  EXPECT_EQ(qmtrc_lost(), 2u);
  // Needs the room of two 8-byte records, so the two oldest go.
  write_text(1, 1, 0, std::string(kRecordOverhead + 16, 'w'));
  EXPECT_EQ(qmtrc_lost(), 4u);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].data[0], "record 5");
  EXPECT_EQ(records[1].data[0], std::string(kRecordOverhead + 16, 'w'));
}

// Distinct bytes everywhere, so that a piece copied from the wrong place shows.
std::string pattern(std::size_t seed, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed * 31 + i * 7);
  return bytes;
}

TEST_F(Qmtrc, WrappedRecordsStayIntact) {
  // Never drained while writing, so the ring keeps overwriting itself and its records wrap
  // around the end at every possible place, headers included.
  constexpr std::size_t kRing = 1000, kWritten = 400;
  qmtrc_set_ring_capacity(kRing);
  for (std::size_t i = 0; i < kWritten; ++i)
    write_text(1, 1, i, pattern(i, i % 151));
  std::size_t first_kept = kWritten;
  for (std::size_t used = 0; used + kRecordOverhead + (first_kept - 1) % 151 <= kRing;)
    used += kRecordOverhead + --first_kept % 151;
  EXPECT_EQ(qmtrc_lost(), first_kept);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), kWritten - first_kept);
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].object, first_kept + i);
    EXPECT_EQ(records[i].data[0], pattern(first_kept + i, (first_kept + i) % 151));
  }
}

TEST_F(Qmtrc, RecordLargerThanRingIsLost) {
  qmtrc_set_ring_capacity(100);
  write_text(1, 1, 1, std::string(100 - kRecordOverhead, 'k'));
  write_text(1, 1, 2, std::string(101 - kRecordOverhead, 'x'));
  EXPECT_EQ(qmtrc_lost(), 1u);
  std::vector<Kept> records = drain_all();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].object, 1u);
}

TEST_F(Qmtrc, ZeroCapacityKeepsNothingButFeedsSink) {
  std::vector<Kept> seen;
  qmtrc_set_sink(&keep_into, &seen);
  EXPECT_EQ(qmtrc_set_ring_capacity(0), kCapacity);
  write_text(1, 1, 1, "to the sink only");
  EXPECT_EQ(drain_all().size(), 0u);
  EXPECT_EQ(qmtrc_lost(), 0u);
  qmtrc_set_sink(nullptr, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].data[0], "to the sink only");
  EXPECT_EQ(qmtrc_set_ring_capacity(kCapacity), 0u);
}

TEST_F(Qmtrc, SinkSeesEveryRecordUntilRemoved) {
  std::vector<Kept> seen;
  qmtrc_set_sink(&keep_into, &seen);
  trcwriterec(7, 8, object(9), 3, "one", 0, nullptr, 3, "two");
  write_text(7, 8, 10, "three");
  qmtrc_set_sink(nullptr, nullptr);
  write_text(7, 8, 11, "after removal");

  std::vector<Kept> kept = drain_all();
  ASSERT_EQ(seen.size(), 2u);
  ASSERT_EQ(kept.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(seen[i].sequence, kept[i].sequence);
    EXPECT_EQ(seen[i].time_ns, kept[i].time_ns);
    EXPECT_EQ(seen[i].thread, kept[i].thread);
    EXPECT_EQ(seen[i].object, kept[i].object);
    for (int j = 0; j < 3; ++j)
      EXPECT_EQ(seen[i].data[j], kept[i].data[j]);
  }
  EXPECT_EQ(seen[0].data[2], "two");
}

TEST_F(Qmtrc, RecordWrittenBySinkIsKeptButNotFedBack) {
  static std::atomic<int> calls{0};
  calls = 0;
  qmtrc_set_sink(
      [](const qmtrc_record*, void*) {
        ++calls;
        write_text(2, 2, 2, "from sink");
      },
      nullptr);
  write_text(1, 1, 1, "outer");
  qmtrc_set_sink(nullptr, nullptr);
  EXPECT_EQ(calls, 1);
  std::vector<Kept> kept = drain_all();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[1].data[0], "from sink");
}

TEST_F(Qmtrc, SetSinkWaitsForRunningCall) {
  struct Blocking {
    Event entered, release;
    std::atomic<bool> finished{false};
  } blocking;
  qmtrc_set_sink(
      [](const qmtrc_record*, void* context) {
        auto* b = static_cast<Blocking*>(context);
        b->entered.set();
        b->release.wait();
        b->finished = true;
      },
      &blocking);
  std::thread writer([] { write_text(1, 1, 1, "blocked in sink"); });
  bool entered = blocking.entered.wait();
  Event replacing;
  bool finished_when_replaced = false;
  std::thread replacer([&] {
    replacing.set();
    qmtrc_set_sink(nullptr, nullptr);
    finished_when_replaced = blocking.finished;
  });
  // Releasing only once the replacer runs: a set_sink that did not wait would return while
  // the main thread is still waking up.
  bool replacer_started = replacing.wait();
  blocking.release.set();
  replacer.join();
  writer.join();
  EXPECT_TRUE(entered);
  EXPECT_TRUE(replacer_started);
  EXPECT_TRUE(finished_when_replaced);
}

// Records of the threaded tests carry who wrote them in every field, so that a torn record
// shows as a mismatch.
constexpr int kWriters = 8;
constexpr std::uint32_t kPerWriter = 5000;

void write_numbered(std::uint32_t writer, std::uint32_t n) {
  std::uint32_t check = writer * kPerWriter + n;
  trcwriterec(0x06000000 | writer, n, object(check + 1), 4, &writer, 4, &n, 4, &check);
}

std::uint32_t item_u32(const std::string& item) {
  std::uint32_t value = 0;
  EXPECT_EQ(item.size(), 4u);
  std::memcpy(&value, item.data(), std::min<std::size_t>(item.size(), 4));
  return value;
}

// Checks records from writers 0..writers-1, kPerWriter each: all there, none torn, each
// writer's in its order.
void expect_numbered(const std::vector<Kept>& records, std::uint32_t writers) {
  ASSERT_EQ(records.size(), std::size_t{writers} * kPerWriter);
  std::vector<std::uint32_t> next(writers, 0);
  std::vector<std::uint32_t> thread_of(writers, 0);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Kept& r = records[i];
    std::uint32_t writer = item_u32(r.data[0]);
    ASSERT_LT(writer, writers);
    std::uint32_t n = item_u32(r.data[1]);
    ASSERT_EQ(n, next[writer]) << "writer " << writer;
    ++next[writer];
    EXPECT_EQ(r.kind, 0x06000000 | writer);
    EXPECT_EQ(r.tracepoint, n);
    EXPECT_EQ(item_u32(r.data[2]), writer * kPerWriter + n);
    EXPECT_EQ(r.object, writer * kPerWriter + n + 1);
    if (i > 0) {
      EXPECT_GT(r.sequence, records[i - 1].sequence);
    }
    if (thread_of[writer] == 0) thread_of[writer] = r.thread;
    EXPECT_EQ(r.thread, thread_of[writer]);
  }
  std::sort(thread_of.begin(), thread_of.end());
  EXPECT_EQ(std::adjacent_find(thread_of.begin(), thread_of.end()), thread_of.end());
}

TEST_F(Qmtrc, ManyThreadsAtOnceLoseAndTearNothing) {
  Event start;
  std::atomic<int> late{0};
  std::vector<std::thread> threads;
  for (std::uint32_t w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      if (!start.wait()) ++late;
      for (std::uint32_t n = 0; n < kPerWriter; ++n)
        write_numbered(w, n);
    });
  }
  start.set();
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(late, 0);
  EXPECT_EQ(qmtrc_lost(), 0u);
  expect_numbered(drain_all(), kWriters);
}

TEST_F(Qmtrc, DrainingWhileThreadsWrite) {
  constexpr std::uint32_t kConcurrentWriters = 4;
  std::atomic<std::uint32_t> finished{0};
  std::vector<std::thread> threads;
  for (std::uint32_t w = 0; w < kConcurrentWriters; ++w) {
    threads.emplace_back([&, w] {
      for (std::uint32_t n = 0; n < kPerWriter; ++n)
        write_numbered(w, n);
      ++finished;
    });
  }
  std::vector<Kept> records;
  while (finished < kConcurrentWriters)
    qmtrc_drain(&keep_into, &records);
  for (std::thread& t : threads)
    t.join();
  qmtrc_drain(&keep_into, &records);
  EXPECT_EQ(qmtrc_lost(), 0u);
  expect_numbered(records, kConcurrentWriters);
}

// The dump line of one record of every kind: names, object, and each data rule.
// The bodies of a trace file's records, one line each, as qmtrc_dump prints them after its
// columns.
bool read_bodies(const fs::path& path, std::string& out, std::string& error) {
  out.clear();
  return qmtrc::dump::read_trace_file(
      path.string().c_str(),
      [&](const qmtrc_record& record) { out += qmtrc::dump::format_record(record) + "\n"; }, error);
}

struct KindCase {
  std::uint8_t kind;
  std::uint32_t tracepoint;
  std::uintptr_t object;
  std::string data;
  const char* line;
};

const KindCase kEveryKind[] = {
    {wytr::kind::error_text, wytr::tp::socket_read, 0x10, "connection reset\n",
     R"(error qmgl_socket::read 0x10 "connection reset\n")"},
    {wytr::kind::exception_created, wytr::tp::exc_created, 0x20, "say \"no\"\t\x01\\",
     R"(exception exc_t::created 0x20 "say \"no\"\t\x01\\")"},
    {wytr::kind::public_left_in_exception, wytr::tp::file_write, 0x30,
     std::string("\x05\x40\x00\x80", 4), "left-in-exception qmgl_file::write 0x30 code=0x80004005"},
    {wytr::kind::inner_left_in_exception, wytr::tp::rpc_io_fill_buffer, 0x40,
     std::string("\x07\0\0\0", 4),
     "inner-left-in-exception qmgl_rpc_input_output::fill_buffer 0x40 code=0x00000007"},
    {wytr::kind::constructed, wytr::tp::socket_lifetime, 0x50, "",
     "constructed qmgl_socket::lifetime 0x50"},
    {wytr::kind::destroyed, wytr::tp::socket_factory_lifetime, 0x50, "",
     "destroyed qmgl_socket_factory::lifetime 0x50"},
    {wytr::kind::public_entered, wytr::tp::task_doer_run, 0, "", "entered qmgl_task_doer::run 0x0"},
    {wytr::kind::public_left, wytr::tp::task_doer_run, 0xFFFFFFFF, std::string(4, '\0'),
     "left qmgl_task_doer::run 0xffffffff code=0x00000000"},
    {wytr::kind::resource, wytr::tp::file_lifetime, 0x70, "fd 3",
     R"(resource qmgl_file::lifetime 0x70 "fd 3")"},
    {wytr::kind::inner_entered, wytr::tp::timer_thread_body, 0x80, "",
     "inner-entered qmgl_timer::thread_body 0x80"},
    {wytr::kind::inner_left, wytr::tp::timer_thread_body, 0x80, "\xEF\xBE\xAD\xDE",
     "inner-left qmgl_timer::thread_body 0x80 code=0xdeadbeef"},
    {wytr::kind::state_note, wytr::tp::rpc_client_request_lifetime, 0x90, "idle\r\n",
     R"(state qmgl_rpc_client_request::constructor_destructor 0x90 "idle\r\n")"},
    {wytr::kind::wait_note, wytr::tp::thread_lifetime, 0xABCDEF, "\x7f\xc3\xa9",
     "wait qmgl_thread::lifetime 0xabcdef \"\\x7f\xc3\xa9\""},
};

TEST_F(Qmtrc, FileDecodesOneRecordOfEveryKind) {
  for (const wytr::kind_name& known : wytr::kind_names) {
    EXPECT_TRUE(std::any_of(std::begin(kEveryKind), std::end(kEveryKind), [&](const KindCase& c) {
      return c.kind == known.number;
    })) << known.name;
  }
  TempDir dir;
  StopFileAtExit stop_file;
  fs::path path = dir.file("every_kind.qmtrc");
  ASSERT_EQ(qmtrc_set_file(path.string().c_str()), 0);
  std::string expected;
  for (const KindCase& c : kEveryKind) {
    write_text(wytr::kind_word(c.kind), c.tracepoint, c.object, c.data);
    expected += std::string(c.line) + "\n";
  }
  EXPECT_EQ(qmtrc_set_file(nullptr), 0);
  std::string out, error;
  EXPECT_TRUE(read_bodies(path, out, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(out, expected);
}

TEST_F(Qmtrc, FileLayoutIsTheDocumentedOne) {
  TempDir dir;
  StopFileAtExit stop_file;
  fs::path path = dir.file("layout.qmtrc");
  ASSERT_EQ(qmtrc_set_file(path.string().c_str()), 0);
  trcwriterec(0x06200000, 0x140D0D00, object(0x1234), 2, "ab", 1, "c", 0, nullptr);
  ASSERT_EQ(qmtrc_set_file(nullptr), 0);
  std::vector<Kept> kept = drain_all();
  ASSERT_EQ(kept.size(), 1u);

  std::string bytes = read_file(path);
  ASSERT_EQ(bytes.size(), kFileHeaderSize + kRecordOverhead + 3);
  EXPECT_EQ(bytes.substr(0, 16), std::string("QMTRC\r\n\x1A\1\0\0\0\x10\0\0\0", 16));
  auto little_endian = [&](std::size_t at, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;)
      v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  auto u32 = [&](std::size_t at) { return little_endian(at, 4); };
  auto u64 = [&](std::size_t at) { return little_endian(at, 8); };
  const std::size_t r = kFileHeaderSize;
  EXPECT_EQ(u32(r + 0), kRecordOverhead + 3);
  EXPECT_EQ(u32(r + 4), 0x06200000u);
  EXPECT_EQ(u32(r + 8), 0x140D0D00u);
  EXPECT_EQ(u32(r + 12), kept[0].thread);
  EXPECT_EQ(u64(r + 16), kept[0].sequence);
  EXPECT_EQ(u64(r + 24), kept[0].time_ns);
  EXPECT_EQ(u64(r + 32), 0x1234u);
  EXPECT_EQ(u32(r + 40), 2u);
  EXPECT_EQ(u32(r + 44), 1u);
  EXPECT_EQ(u32(r + 48), 0u);
  EXPECT_EQ(bytes.substr(r + 52), "abc");
}

TEST_F(Qmtrc, FileIsAppendedToAndForeignFileRefused) {
  TempDir dir;
  StopFileAtExit stop_file;
  fs::path path = dir.file("appended.qmtrc");
  for (const char* text : {"first run", "second run"}) {
    ASSERT_EQ(qmtrc_set_file(path.string().c_str()), 0);
    write_text(wytr::kind_word(wytr::kind::state_note), wytr::tp::timer_create, 1, text);
    ASSERT_EQ(qmtrc_set_file(nullptr), 0);
  }
  std::string out, error;
  EXPECT_TRUE(read_bodies(path, out, error));
  EXPECT_EQ(out,
            "state qmgl_timer::create 0x1 \"first run\"\n"
            "state qmgl_timer::create 0x1 \"second run\"\n");

  fs::path foreign = dir.file("notes.txt");
  write_file(foreign, "not a trace, keep me");
  EXPECT_EQ(qmtrc_set_file(foreign.string().c_str()), -1);
  EXPECT_EQ(read_file(foreign), "not a trace, keep me");
  EXPECT_EQ(qmtrc_set_file(dir.file("no/such/dir.qmtrc").string().c_str()), -1);
}

TEST_F(Qmtrc, TruncatedLastRecordIsReportedNotShown) {
  TempDir dir;
  StopFileAtExit stop_file;
  fs::path path = dir.file("crashed.qmtrc");
  ASSERT_EQ(qmtrc_set_file(path.string().c_str()), 0);
  write_text(wytr::kind_word(wytr::kind::error_text), wytr::tp::file_read, 1, "whole");
  write_text(wytr::kind_word(wytr::kind::error_text), wytr::tp::file_read, 2, "cut short");
  ASSERT_EQ(qmtrc_set_file(nullptr), 0);
  const std::size_t second = kFileHeaderSize + kRecordOverhead + 5;
  const std::string whole_line = "error qmgl_file::read 0x1 \"whole\"\n";

  std::string out, error;
  fs::resize_file(path, second + kRecordOverhead + 4);
  EXPECT_TRUE(read_bodies(path, out, error));
  EXPECT_EQ(out, whole_line);
  EXPECT_EQ(error, "truncated last record at offset " + std::to_string(second) +
                       " (56 of 61 bytes), not shown");

  fs::resize_file(path, second + 10);
  EXPECT_TRUE(read_bodies(path, out, error));
  EXPECT_EQ(out, whole_line);
  EXPECT_EQ(error, "truncated last record at offset " + std::to_string(second) +
                       " (10 bytes of its header), not shown");
}

TEST_F(Qmtrc, BadFilesAreRefused) {
  TempDir dir;
  std::string out, error;
  EXPECT_FALSE(read_bodies(dir.file("missing.qmtrc"), out, error));
  EXPECT_EQ(error, "cannot open the file: " + std::string(std::strerror(ENOENT)));

  const std::string header("QMTRC\r\n\x1A\1\0\0\0\x10\0\0\0", 16);
  const std::pair<std::string, std::string> cases[] = {
      {"QMTRC\n", "not a qmtrc trace file"},
      {"QMTRX" + header.substr(5), "not a qmtrc trace file"},
      {header.substr(0, 8) + std::string("\2\0\0\0\x10\0\0\0", 8),
       "unsupported trace file version 2"},
      // A record whose size field disagrees with its lengths.
      {header + "\x40" + std::string(51, '\0'),
       "corrupt record at offset 16: its size 64 does not match its lengths"},
  };
  for (const auto& [bytes, message] : cases) {
    fs::path path = dir.file("bad.qmtrc");
    write_file(path, bytes);
    EXPECT_FALSE(read_bodies(path, out, error));
    EXPECT_EQ(error, message);
    EXPECT_EQ(out, "");
  }
}

TEST_F(Qmtrc, FormatQuotesExitDataThatIsNotOneCode) {
  const unsigned char code[4] = {1, 0, 0, 0};
  qmtrc_record record{};
  record.kind = wytr::kind_word(wytr::kind::public_left);
  record.tracepoint = wytr::tp::timer_remove;
  record.length[0] = 3;
  record.data[0] = reinterpret_cast<const unsigned char*>("abc");
  EXPECT_EQ(qmtrc::dump::format_record(record), R"(left qmgl_timer::remove 0x0 "abc")");
  record.length[2] = 4;
  record.data[2] = code;
  EXPECT_EQ(qmtrc::dump::format_record(record),
            R"(left qmgl_timer::remove 0x0 "abc" "\x01\x00\x00\x00")");
  record.length[0] = 0;
  EXPECT_EQ(qmtrc::dump::format_record(record), "left qmgl_timer::remove 0x0 code=0x00000001");
}

// A trace of two runs, written byte by byte so that its times and threads are known: an
// operation on thread 1 with an inner one whose exit is missing, an error text and an exit
// without entry on thread 2, an operation left open, a record of no known kind, and a second
// run of the program 10 s later.
constexpr std::uint64_t kStart = 1738311302123456789;  // 2025-01-31T08:15:02.123456789Z

struct KnownRecord {
  std::uint64_t sequence;
  std::uint32_t thread;
  std::uint64_t after_ns;
  std::uint32_t kind, tracepoint;
  std::uint64_t object;
  std::string data;
};

std::string code_item(std::uint32_t code) {
  unsigned char bytes[4];
  qmtrc::format::put_u32(bytes, code);
  return std::string(reinterpret_cast<char*>(bytes), 4);
}

const KnownRecord kKnownTrace[] = {
    {1, 1, 0, wytr::kind_word(wytr::kind::public_entered), wytr::tp::file_read, 0x10, ""},
    {2, 2, 1500, wytr::kind_word(wytr::kind::error_text), wytr::tp::socket_read, 0x20,
     "connection reset\n"},
    {3, 1, 2000, wytr::kind_word(wytr::kind::inner_entered), wytr::tp::file_seek, 0x10, ""},
    {4, 1, 3250, wytr::kind_word(wytr::kind::public_left), wytr::tp::file_read, 0x10, code_item(0)},
    {5, 2, 4000, wytr::kind_word(wytr::kind::public_left), wytr::tp::socket_read, 0x20,
     code_item(0x68)},
    {6, 2, 5000, wytr::kind_word(wytr::kind::public_entered), wytr::tp::timer_remove, 0x30,
     "a\x80"
     "b"},
    {7, 3, 6000, 0x06990000, wytr::tracepoint(0x7E, 0x05), 0x0123456789ABCDEF, ""},
    {1, 1, 10'000'000'000, wytr::kind_word(wytr::kind::state_note), wytr::tp::timer_create, 0x1,
     "\xC3\xA9t\xC3\xA9"},
};

void write_known_trace(const fs::path& path) {
  namespace format = qmtrc::format;
  unsigned char file_header[format::kFileHeaderSize];
  format::encode_file_header(file_header);
  std::string bytes(reinterpret_cast<char*>(file_header), sizeof file_header);
  for (const KnownRecord& r : kKnownTrace) {
    format::RecordHeader header;
    header.size = static_cast<std::uint32_t>(format::kRecordHeaderSize + r.data.size());
    header.kind = r.kind;
    header.tracepoint = r.tracepoint;
    header.thread = r.thread;
    header.sequence = r.sequence;
    header.time_ns = kStart + r.after_ns;
    header.object = r.object;
    header.length[0] = static_cast<std::uint32_t>(r.data.size());
    unsigned char encoded[format::kRecordHeaderSize];
    format::encode_header(header, encoded);
    bytes += std::string(reinterpret_cast<char*>(encoded), sizeof encoded) + r.data;
  }
  write_file(path, bytes);
}

std::string dump(const fs::path& path, const qmtrc::dump::DumpOptions& options) {
  std::ostringstream out;
  std::string error;
  EXPECT_TRUE(qmtrc::dump::dump_file(path.string().c_str(), options, out, error));
  EXPECT_EQ(error, "");
  return out.str();
}

TEST_F(Qmtrc, DumpShowsColumnsAndFilters) {
  TempDir dir;
  fs::path path = dir.file("known.qmtrc");
  write_known_trace(path);
  const std::string line[] = {
      "     1 2025-01-31T08:15:02.123456Z t1   entered qmgl_file::read 0x10\n",
      "     2 2025-01-31T08:15:02.123458Z t2   error qmgl_socket::read 0x20 \"connection "
      "reset\\n\"\n",
      "     3 2025-01-31T08:15:02.123458Z t1   inner-entered qmgl_file::seek 0x10\n",
      "     4 2025-01-31T08:15:02.123460Z t1   left qmgl_file::read 0x10 code=0x00000000\n",
      "     5 2025-01-31T08:15:02.123460Z t2   left qmgl_socket::read 0x20 code=0x00000068\n",
      "     6 2025-01-31T08:15:02.123461Z t2   entered qmgl_timer::remove 0x30 \"a\x80"
      "b\"\n",
      "     7 2025-01-31T08:15:02.123462Z t3   kind_0x06990000 class_0x7e::op_0x05 "
      "0x123456789abcdef\n",
      "     1 2025-01-31T08:15:12.123456Z t1   state qmgl_timer::create 0x1 "
      "\"\xC3\xA9t\xC3\xA9\"\n",
  };
  // Options as NAME=VALUE, with the output they give.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, line[0] + line[1] + line[2] + line[3] + line[4] + line[5] + line[6] + line[7]},
      {{"relative", "thread=2"},
       "     2    +0.000001 t2   error qmgl_socket::read 0x20 \"connection reset\\n\"\n"
       "     5    +0.000004 t2   left qmgl_socket::read 0x20 code=0x00000068\n"
       "     6    +0.000005 t2   entered qmgl_timer::remove 0x30 \"a\x80"
       "b\"\n"},
      {{"relative", "level=error, STATE"},
       "     2    +0.000001 t2   error qmgl_socket::read 0x20 \"connection reset\\n\"\n"
       "     1   +10.000000 t1   state qmgl_timer::create 0x1 \"\xC3\xA9t\xC3\xA9\"\n"},
      {{"level=inner"}, line[2]},
      {{"level=operation-exit", "thread=1"}, line[3]},
      {{"thread=3,1"}, line[0] + line[2] + line[3] + line[6] + line[7]},
      {{"tracepoint=qmgl_file::seek,class_0x7e, qmgl_timer"},
       line[2] + line[5] + line[6] + line[7]},
      {{"text=reset", "level=error"}, line[1]},
      {{"text=reset", "level=state"}, ""},
  };
  for (const auto& [settings, output] : cases) {
    qmtrc::dump::DumpOptions options;
    for (const std::string& setting : settings) {
      std::string name = setting.substr(0, setting.find('=')), value = setting.substr(name.size());
      if (!value.empty()) value.erase(0, 1);
      bool read = true;
      if (name == "relative") options.relative = true;
      if (name == "level") read = options.filter.set_levels(value);
      if (name == "thread") read = options.filter.set_threads(value);
      if (name == "tracepoint") options.filter.set_tracepoints(value);
      if (name == "text") options.filter.set_text(value);
      EXPECT_TRUE(read) << setting;
    }
    EXPECT_EQ(dump(path, options), output) << testing::PrintToString(settings);
  }
}

// A JSON document, parsed strictly (no trailing commas, no duplicate keys, nothing after the
// value) into a canonical text: members sorted by key as key=value, strings decoded between
// quotes, the elements of an array one per line.
class Json {
 public:
  static std::optional<std::string> canonical(std::string_view text) {
    Json json(text);
    std::optional<std::string> value = json.value();
    json.skip_blanks();
    return json.at_ == text.size() ? value : std::nullopt;
  }

 private:
  explicit Json(std::string_view text) : text_(text) {}

  void skip_blanks() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr)
      ++at_;
  }
  bool take(char c) {
    skip_blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  template <class Element>
  bool elements(char open, char close, Element element) {
    if (!take(open)) return false;
    if (take(close)) return true;
    do {
      if (!element()) return false;
    } while (take(','));
    return take(close);
  }

  std::optional<std::string> array() {
    std::string out;
    bool ok = elements('[', ']', [&] {
      std::optional<std::string> item = value();
      if (item) out += "\n" + *item;
      return item.has_value();
    });
    if (!ok) return std::nullopt;
    return "[" + out + (out.empty() ? "]" : "\n]");
  }

  std::optional<std::string> object() {
    std::map<std::string, std::string> members;
    bool ok = elements('{', '}', [&] {
      std::optional<std::string> key = string();
      if (!key || !take(':')) return false;
      std::optional<std::string> item = value();
      return item && members.emplace(key->substr(1, key->size() - 2), *item).second;
    });
    if (!ok) return std::nullopt;
    std::string out;
    for (const auto& [key, item] : members)
      out += (out.empty() ? "" : ",") + key + "=" + item;
    return "{" + out + "}";
  }

  std::optional<std::string> string() {
    if (!take('"')) return std::nullopt;
    std::string out = "\"";
    while (at_ < text_.size() && text_[at_] != '"') {
      char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      static constexpr std::string_view kEscapes = "\"\\/bfnrt", kMeanings = "\"\\/\b\f\n\r\t";
      char e = at_ < text_.size() ? text_[at_++] : '\0';
      if (e == 'u' && at_ + 4 <= text_.size()) {
        // The export escapes only control characters this way: one byte each.
        out += static_cast<char>(std::stoi(std::string(text_.substr(at_, 4)), nullptr, 16));
        at_ += 4;
      } else if (kEscapes.find(e) != std::string_view::npos) {
        out += kMeanings[kEscapes.find(e)];
      } else {
        return std::nullopt;
      }
    }
    if (at_++ >= text_.size()) return std::nullopt;
    return out + '"';
  }

  std::optional<std::string> value() {
    skip_blanks();
    if (at_ >= text_.size()) return std::nullopt;
    if (text_[at_] == '"') return string();
    if (text_[at_] == '[') return array();
    if (text_[at_] == '{') return object();
    std::size_t start = at_;
    while (at_ < text_.size() && std::strchr("-+.0123456789eEtruefalsn", text_[at_]) != nullptr)
      ++at_;
    if (at_ == start) return std::nullopt;
    return std::string(text_.substr(start, at_ - start));
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

TEST_F(Qmtrc, ChromeExportOfKnownTrace) {
  TempDir dir;
  fs::path path = dir.file("known.qmtrc");
  write_known_trace(path);
  qmtrc::dump::DumpOptions options;
  options.output = qmtrc::dump::DumpOptions::Output::chrome;
  std::string json = dump(path, options);

  // Thread 1: an operation with an inner one whose exit is missing; thread 2: an error text,
  // an exit without entry, an operation left open; thread 3: a record of no known kind; the
  // second run on a track of its own.
  EXPECT_EQ(
      Json::canonical(json),
      R"({displayTimeUnit="ns",otherData={start="2025-01-31T08:15:02.123456Z"},traceEvents=[
{args={object="0x10",seq=1},cat="operation",name="qmgl_file::read",ph="B",pid=1,tid=1,ts=0.000}
{args={object="0x20",seq=2,text="connection reset)"
      "\n"
      R"("},cat="error",name="error qmgl_socket::read",ph="i",pid=1,s="t",tid=2,ts=1.500}
{args={object="0x10",seq=3},cat="inner",name="qmgl_file::seek",ph="B",pid=1,tid=1,ts=2.000}
{args={exit="none"},cat="operation",name="qmgl_file::seek",ph="E",pid=1,tid=1,ts=3.250}
{args={code="0x00000000",exit="left"},cat="operation",name="qmgl_file::read",ph="E",pid=1,tid=1,ts=3.250}
{args={code="0x00000068",object="0x20",seq=5},cat="operation",name="left qmgl_socket::read",ph="i",pid=1,s="t",tid=2,ts=4.000}
{args={object="0x30",seq=6,text="a\x80b"},cat="operation",name="qmgl_timer::remove",ph="B",pid=1,tid=2,ts=5.000}
{args={object="0x123456789abcdef",seq=7},cat="other",name="kind_0x06990000 class_0x7e::op_0x05",ph="i",pid=1,s="t",tid=3,ts=6.000}
{args={object="0x1",seq=1,text=")"
      "\xC3\xA9t\xC3\xA9"
      R"("},cat="state",name="state qmgl_timer::create",ph="i",pid=2,s="t",tid=1,ts=10000000.000}
]})");
}

}  // namespace
