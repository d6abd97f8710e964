#include "trace_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "record_format.h"

namespace qmtrc::dump {
namespace {

// Reads exactly size bytes, growing buf as bytes arrive rather than trusting a length read
// from a possibly damaged file with a large allocation. Returns the count actually read.
std::size_t read_bytes(std::FILE* file, std::vector<unsigned char>& buf, std::size_t size) {
  constexpr std::size_t kStep = std::size_t{1} << 20;
  buf.clear();
  while (buf.size() < size) {
    std::size_t start = buf.size();
    std::size_t step = size - start < kStep ? size - start : kStep;
    buf.resize(start + step);
    std::size_t got = std::fread(buf.data() + start, 1, step, file);
    if (got < step) {
      buf.resize(start + got);
      break;
    }
  }
  return buf.size();
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string at_offset(std::uint64_t offset) {
  return " at offset " + std::to_string(offset);
}

// Checks the file header and leaves the file at the first record; returns the header's size,
// or 0 with error set.
std::uint32_t read_file_header(std::FILE* file, std::string& error) {
  std::vector<unsigned char> bytes;
  if (read_bytes(file, bytes, format::kFileHeaderSize) < format::kFileHeaderSize ||
      !std::equal(bytes.begin(), bytes.begin() + sizeof format::kMagic, format::kMagic)) {
    error = "not a qmtrc trace file";
    return 0;
  }
  std::uint32_t version = format::get_u32(bytes.data() + 8);
  if (version != format::kVersion) {
    error = "unsupported trace file version " + std::to_string(version);
    return 0;
  }
  std::uint32_t header_size = format::get_u32(bytes.data() + 12);
  if (header_size < format::kFileHeaderSize) {
    error = "bad file header size " + std::to_string(header_size);
    return 0;
  }
  // Later versions may extend the header; what this reader does not know is skipped.
  std::size_t skip = header_size - format::kFileHeaderSize;
  if (read_bytes(file, bytes, skip) < skip) {
    error = "truncated file header";
    return 0;
  }
  return header_size;
}

}  // namespace

bool read_trace_file(const char* path, const RecordVisitor& visit, std::string& error) {
  error.clear();
  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    error = "cannot open the file";
    if (errno != 0) error += std::string(": ") + std::strerror(errno);
    return false;
  }
  std::uint64_t offset = read_file_header(file.get(), error);
  if (offset == 0) return false;

  std::vector<unsigned char> bytes, data;
  for (;;) {
    std::size_t got = read_bytes(file.get(), bytes, format::kRecordHeaderSize);
    if (got == 0) break;
    if (got < format::kRecordHeaderSize) {
      error = "truncated last record" + at_offset(offset) + " (" + std::to_string(got) +
              " bytes of its header), not shown";
      break;
    }
    format::RecordHeader header = format::decode_header(bytes.data());
    if (header.size != format::implied_size(header)) {
      error = "corrupt record" + at_offset(offset) + ": its size " + std::to_string(header.size) +
              " does not match its lengths";
      return false;
    }
    std::size_t data_size = header.size - format::kRecordHeaderSize;
    got = read_bytes(file.get(), data, data_size);
    if (got < data_size) {
      error = "truncated last record" + at_offset(offset) + " (" +
              std::to_string(format::kRecordHeaderSize + got) + " of " +
              std::to_string(header.size) + " bytes), not shown";
      break;
    }
    visit(format::to_record(header, data.data()));
    offset += header.size;
  }
  if (std::ferror(file.get())) {
    error = "read error" + at_offset(offset);
    return false;
  }
  return true;
}

}  // namespace qmtrc::dump
