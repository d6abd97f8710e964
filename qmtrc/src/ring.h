// ring.h - the in-memory ring of encoded records.

#ifndef QMTRC_RING_H
#define QMTRC_RING_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "record_format.h"

namespace qmtrc {

// One contiguous byte buffer holding encoded records (header then data, see
// record_format.h) oldest first. A record may wrap around the end of the buffer, so that the
// whole capacity is usable whatever the record sizes. Not synchronised: the recorder holds
// its mutex around every call.
class Ring {
 public:
  enum class Push {
    kept,
    lost,      // larger than the capacity, or the buffer could not be allocated
    disabled,  // capacity 0: the ring is off, which is not a loss
  };

  explicit Ring(std::size_t capacity) noexcept : capacity_(capacity) {}

  // Appends an encoded header and its items, dropping the oldest records until it fits;
  // `dropped` receives how many were dropped.
  Push push(const unsigned char (&header)[format::kRecordHeaderSize],
            const format::Item (&items)[3], std::uint64_t& dropped) noexcept;

  // Moves the oldest records whose sequence is at most last_sequence to the end of out, as
  // long as they fit in budget bytes (one record at least), and returns how many it moved.
  // If out cannot grow, throws std::bad_alloc with the ring and out unchanged.
  std::size_t take(std::vector<unsigned char>& out, std::size_t budget,
                   std::uint64_t last_sequence);

  void clear() noexcept;

  // Empties the ring and sets a new capacity. The old buffer is handed back so that the
  // caller frees it outside its lock; the new one is allocated by the next push.
  std::unique_ptr<unsigned char[]> reset(std::size_t capacity) noexcept;

  std::size_t capacity() const noexcept { return capacity_; }

 private:
  std::size_t wrap(std::size_t offset) const noexcept {
    return offset >= capacity_ ? offset - capacity_ : offset;
  }
  void copy_in(std::size_t offset, const unsigned char* source, std::size_t size) noexcept;
  void copy_out(std::size_t offset, unsigned char* target, std::size_t size) const noexcept;
  format::RecordHeader front_header() const noexcept;
  void drop_front(std::size_t size) noexcept;

  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_;
  std::size_t head_ = 0;  // offset of the oldest record
  std::size_t used_ = 0;  // bytes held, from head_ on, wrapping
};

}  // namespace qmtrc

#endif  // QMTRC_RING_H
