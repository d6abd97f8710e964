#include "recorder.h"

#include <chrono>
#include <memory>
#include <new>
#include <vector>

namespace qmtrc {
namespace {

// Drained records are copied out in batches of about this size, so the ring mutex is never
// held for long and the copy buffer stays small.
constexpr std::size_t kDrainBatchBytes = 64 * 1024;

// 0 until the thread writes its first record; trivially destructible, so it stays usable
// while a thread or the process is being torn down.
thread_local std::uint32_t t_thread_number = 0;

std::uint64_t now_ns() noexcept {
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
}

}  // namespace

Recorder& Recorder::instance() noexcept {
  // Constructed in static storage rather than on the heap: nothing to allocate, nothing to
  // fail, and never destroyed.
  alignas(Recorder) static unsigned char storage[sizeof(Recorder)];
  static Recorder* const recorder = ::new (storage) Recorder();
  return *recorder;
}

void Recorder::write(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
                     const format::Item (&items)[3]) noexcept {
  format::RecordHeader header;
  std::uint64_t size = format::kRecordHeaderSize + std::uint64_t{items[0].length} +
                       items[1].length + items[2].length;
  if (size > format::kMaxRecordSize) {
    count_lost(1);
    return;
  }
  header.size = static_cast<std::uint32_t>(size);
  header.kind = kind;
  header.tracepoint = tracepoint;
  header.object = object;
  for (int i = 0; i < 3; ++i)
    header.length[i] = items[i].length;

  std::unique_lock<std::mutex> file_lock;
  if (file_open_.load(std::memory_order_acquire))
    file_lock = std::unique_lock<std::mutex>(file_mutex_);

  unsigned char encoded[format::kRecordHeaderSize];
  {
    std::lock_guard<std::mutex> lock(ring_mutex_);
    // Numbered under the lock, so that sequence, thread numbers and times all follow the
    // order in which records enter the ring.
    if (t_thread_number == 0) t_thread_number = next_thread_++;
    header.thread = t_thread_number;
    header.sequence = next_sequence_++;
    header.time_ns = now_ns();
    format::encode_header(header, encoded);
    std::uint64_t dropped = 0;
    Ring::Push pushed = ring_.push(encoded, items, dropped);
    if (pushed == Ring::Push::lost) ++dropped;
    if (dropped) count_lost(dropped);
  }
  if (file_lock.owns_lock()) {
    if (file_.is_open() && !file_.write(encoded, items)) count_lost(1);
    file_lock.unlock();
  }
  if (sink_.installed()) {
    sink_.call(format::to_record(header, items));
  }
}

std::size_t Recorder::drain(qmtrc_visit_fn visit, void* context) {
  std::vector<unsigned char> batch;
  std::uint64_t last_sequence;
  {
    std::lock_guard<std::mutex> lock(ring_mutex_);
    // Records written from here on, by visit or by other threads, wait for the next drain;
    // otherwise a busy writer could keep this drain going for ever.
    last_sequence = next_sequence_ - 1;
  }
  std::size_t visited = 0;
  for (;;) {
    batch.clear();
    std::size_t taken;
    try {
      if (batch.capacity() < kDrainBatchBytes) batch.reserve(kDrainBatchBytes);
      std::lock_guard<std::mutex> lock(ring_mutex_);
      taken = ring_.take(batch, kDrainBatchBytes, last_sequence);
    } catch (const std::bad_alloc&) {
      // What could not be copied out stays in the ring for a later drain.
      break;
    }
    if (taken == 0) break;
    for (std::size_t offset = 0; offset < batch.size();) {
      format::RecordHeader header = format::decode_header(batch.data() + offset);
      qmtrc_record record =
          format::to_record(header, batch.data() + offset + format::kRecordHeaderSize);
      if (visit) visit(&record, context);
      ++visited;
      offset += header.size;
    }
  }
  return visited;
}

void Recorder::clear() noexcept {
  std::lock_guard<std::mutex> lock(ring_mutex_);
  ring_.clear();
  lost_.store(0, std::memory_order_relaxed);
}

std::size_t Recorder::set_capacity(std::size_t bytes) noexcept {
  std::unique_ptr<unsigned char[]> old_buffer;  // declared first: freed after the unlock
  std::lock_guard<std::mutex> lock(ring_mutex_);
  std::size_t old_capacity = ring_.capacity();
  old_buffer = ring_.reset(bytes);
  return old_capacity;
}

int Recorder::set_file(const char* path) noexcept {
  std::lock_guard<std::mutex> lock(file_mutex_);
  file_.close();
  int error = path != nullptr ? file_.open(path) : 0;
  file_open_.store(file_.is_open(), std::memory_order_release);
  return error;
}

}  // namespace qmtrc
