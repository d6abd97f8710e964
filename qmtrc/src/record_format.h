// record_format.h - the byte layout of one trace record.
//
// The same little-endian layout is used by the in-memory ring, by the trace file and by
// qmtrc_dump, so that a record is encoded once per destination with one function and decoded
// with one function. qmtrc/README.md describes the layout for readers of trace files.

#ifndef QMTRC_RECORD_FORMAT_H
#define QMTRC_RECORD_FORMAT_H

#include <cstddef>
#include <cstdint>

#include <qmtrc/qmtrc.h>

namespace qmtrc::format {

// File header: magic, then version and header size as u32. The CR LF and ^Z in the magic
// make a copy through a text-mode channel detectable, as in PNG.
inline constexpr unsigned char kMagic[8] = {'Q', 'M', 'T', 'R', 'C', '\r', '\n', 0x1A};
inline constexpr std::uint32_t kVersion = 1;
inline constexpr std::size_t kFileHeaderSize = 16;

// Record header fields, by byte offset. The data items follow the header back to back.
inline constexpr std::size_t kSizeOffset = 0;
inline constexpr std::size_t kKindOffset = 4;
inline constexpr std::size_t kTracepointOffset = 8;
inline constexpr std::size_t kThreadOffset = 12;
inline constexpr std::size_t kSequenceOffset = 16;
inline constexpr std::size_t kTimeOffset = 24;
inline constexpr std::size_t kObjectOffset = 32;
inline constexpr std::size_t kLengthOffset = 40;  // three u32
inline constexpr std::size_t kRecordHeaderSize = 52;
inline constexpr std::uint64_t kMaxRecordSize = UINT32_MAX;

struct RecordHeader {
  std::uint32_t size = 0;  // the whole record, header included
  std::uint32_t kind = 0;
  std::uint32_t tracepoint = 0;
  std::uint32_t thread = 0;
  std::uint64_t sequence = 0;
  std::uint64_t time_ns = 0;
  std::uint64_t object = 0;
  std::uint32_t length[3] = {0, 0, 0};
};

// One data item of a record as the writer passed it; the bytes are the writer's until copied.
struct Item {
  const unsigned char* data = nullptr;
  std::uint32_t length = 0;
};

// Byte-wise on purpose: the buffers are not aligned, and compilers turn these into plain
// loads and stores on little-endian machines.
inline void put_u32(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline void put_u64(unsigned char* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<unsigned char>(value >> (8 * i));
}
inline std::uint32_t get_u32(const unsigned char* in) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | in[i];
  return value;
}
inline std::uint64_t get_u64(const unsigned char* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | in[i];
  return value;
}

inline void encode_file_header(unsigned char (&out)[kFileHeaderSize]) {
  for (std::size_t i = 0; i < sizeof kMagic; ++i)
    out[i] = kMagic[i];
  put_u32(out + 8, kVersion);
  put_u32(out + 12, static_cast<std::uint32_t>(kFileHeaderSize));
}

inline void encode_header(const RecordHeader& header, unsigned char (&out)[kRecordHeaderSize]) {
  put_u32(out + kSizeOffset, header.size);
  put_u32(out + kKindOffset, header.kind);
  put_u32(out + kTracepointOffset, header.tracepoint);
  put_u32(out + kThreadOffset, header.thread);
  put_u64(out + kSequenceOffset, header.sequence);
  put_u64(out + kTimeOffset, header.time_ns);
  put_u64(out + kObjectOffset, header.object);
  for (int i = 0; i < 3; ++i)
    put_u32(out + kLengthOffset + 4 * i, header.length[i]);
}

inline RecordHeader decode_header(const unsigned char* in) {
  RecordHeader header;
  header.size = get_u32(in + kSizeOffset);
  header.kind = get_u32(in + kKindOffset);
  header.tracepoint = get_u32(in + kTracepointOffset);
  header.thread = get_u32(in + kThreadOffset);
  header.sequence = get_u64(in + kSequenceOffset);
  header.time_ns = get_u64(in + kTimeOffset);
  header.object = get_u64(in + kObjectOffset);
  for (int i = 0; i < 3; ++i)
    header.length[i] = get_u32(in + kLengthOffset + 4 * i);
  return header;
}

// The record size that the header and the three lengths imply; a header whose size field
// disagrees with it is corrupt.
inline std::uint64_t implied_size(const RecordHeader& header) {
  return kRecordHeaderSize + std::uint64_t{header.length[0]} + header.length[1] + header.length[2];
}

// The public view of a record whose items are at the given places.
inline qmtrc_record to_record(const RecordHeader& header, const Item (&items)[3]) {
  qmtrc_record record{};
  record.sequence = header.sequence;
  record.time_ns = header.time_ns;
  record.object = header.object;
  record.thread = header.thread;
  record.kind = header.kind;
  record.tracepoint = header.tracepoint;
  for (int i = 0; i < 3; ++i) {
    record.length[i] = items[i].length;
    record.data[i] = items[i].data;
  }
  return record;
}

// The public view of an encoded record: its items lie back to back after the header.
inline qmtrc_record to_record(const RecordHeader& header, const unsigned char* data) {
  Item items[3];
  for (int i = 0; i < 3; ++i) {
    items[i] = {data, header.length[i]};
    data += header.length[i];
  }
  return to_record(header, items);
}

}  // namespace qmtrc::format

#endif  // QMTRC_RECORD_FORMAT_H
