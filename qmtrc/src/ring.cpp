#include "ring.h"

#include <cstring>
#include <new>
#include <utility>

namespace qmtrc {

void Ring::copy_in(std::size_t offset, const unsigned char* source, std::size_t size) noexcept {
  std::size_t first = capacity_ - offset;
  if (size <= first) {
    std::memcpy(buffer_.get() + offset, source, size);
  } else {
    std::memcpy(buffer_.get() + offset, source, first);
    std::memcpy(buffer_.get(), source + first, size - first);
  }
}

void Ring::copy_out(std::size_t offset, unsigned char* target, std::size_t size) const noexcept {
  std::size_t first = capacity_ - offset;
  if (size <= first) {
    std::memcpy(target, buffer_.get() + offset, size);
  } else {
    std::memcpy(target, buffer_.get() + offset, first);
    std::memcpy(target + first, buffer_.get(), size - first);
  }
}

format::RecordHeader Ring::front_header() const noexcept {
  unsigned char bytes[format::kRecordHeaderSize];
  copy_out(head_, bytes, sizeof bytes);
  return format::decode_header(bytes);
}

void Ring::drop_front(std::size_t size) noexcept {
  head_ = wrap(head_ + size);
  used_ -= size;
  if (used_ == 0) head_ = 0;
}

Ring::Push Ring::push(const unsigned char (&header)[format::kRecordHeaderSize],
                      const format::Item (&items)[3], std::uint64_t& dropped) noexcept {
  dropped = 0;
  if (capacity_ == 0) return Push::disabled;
  std::size_t size = format::get_u32(header + format::kSizeOffset);
  if (size > capacity_) return Push::lost;
  if (!buffer_) {
    buffer_.reset(new (std::nothrow) unsigned char[capacity_]);
    if (!buffer_) return Push::lost;
  }
  while (capacity_ - used_ < size) {
    drop_front(front_header().size);
    ++dropped;
  }
  std::size_t offset = wrap(head_ + used_);
  copy_in(offset, header, sizeof header);
  offset = wrap(offset + sizeof header);
  for (const format::Item& item : items) {
    if (item.length == 0) continue;
    copy_in(offset, item.data, item.length);
    offset = wrap(offset + item.length);
  }
  used_ += size;
  return Push::kept;
}

std::size_t Ring::take(std::vector<unsigned char>& out, std::size_t budget,
                       std::uint64_t last_sequence) {
  std::size_t start = out.size();
  std::size_t taken_bytes = 0;
  std::size_t taken = 0;
  // Measure first so that out grows once, and so that a failed allocation leaves the ring
  // untouched.
  for (std::size_t offset = head_; taken_bytes < used_;) {
    unsigned char bytes[format::kRecordHeaderSize];
    copy_out(offset, bytes, sizeof bytes);
    format::RecordHeader header = format::decode_header(bytes);
    if (header.sequence > last_sequence) break;
    if (taken > 0 && taken_bytes + header.size > budget) break;
    taken_bytes += header.size;
    ++taken;
    offset = wrap(offset + header.size);
  }
  if (taken == 0) return 0;
  out.resize(start + taken_bytes);
  copy_out(head_, out.data() + start, taken_bytes);
  drop_front(taken_bytes);
  return taken;
}

void Ring::clear() noexcept {
  head_ = 0;
  used_ = 0;
}

std::unique_ptr<unsigned char[]> Ring::reset(std::size_t capacity) noexcept {
  clear();
  capacity_ = capacity;
  return std::move(buffer_);
}

}  // namespace qmtrc
