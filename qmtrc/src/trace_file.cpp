#include "trace_file.h"

#include <cstring>

namespace qmtrc {
namespace {

// A staging buffer that grew for one very large record is not kept for the process life.
constexpr std::size_t kKeptStagingCapacity = std::size_t{1} << 20;

bool is_trace_header(const unsigned char* bytes) {
  return std::memcmp(bytes, format::kMagic, sizeof format::kMagic) == 0 &&
         format::get_u32(bytes + 8) == format::kVersion &&
         format::get_u32(bytes + 12) >= format::kFileHeaderSize;
}

}  // namespace

bool TraceFile::open(const char* path) noexcept {
  close();
  // "a+b": reading the existing header and appending through one stream, so the check and
  // the writes concern the same file.
  std::FILE* file = std::fopen(path, "a+b");
  if (!file) return false;
  // Unbuffered, so that each record goes to the operating system as one write call.
  std::setvbuf(file, nullptr, _IONBF, 0);
  unsigned char existing[format::kFileHeaderSize];
  std::size_t have = 0;
  if (std::fseek(file, 0, SEEK_SET) == 0) have = std::fread(existing, 1, sizeof existing, file);
  bool usable = false;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    if (have == 0 && !std::ferror(file)) {
      unsigned char header[format::kFileHeaderSize];
      format::encode_file_header(header);
      file_ = file;
      usable = write_whole(header, sizeof header);
      file_ = nullptr;
    } else {
      usable = have == sizeof existing && is_trace_header(existing);
    }
  }
  if (!usable) {
    std::fclose(file);
    return false;
  }
  file_ = file;
  return true;
}

void TraceFile::close() noexcept {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool TraceFile::write_whole(const unsigned char* bytes, std::size_t size) noexcept {
  bool ok = std::fwrite(bytes, 1, size, file_) == size;
  return std::fflush(file_) == 0 && ok;
}

bool TraceFile::write(const unsigned char (&header)[format::kRecordHeaderSize],
                      const format::Item (&items)[3]) noexcept {
  if (!file_) return false;
  std::size_t size = format::get_u32(header + format::kSizeOffset);
  try {
    staging_.resize(size);
  } catch (...) {
    return false;
  }
  unsigned char* out = staging_.data();
  std::memcpy(out, header, sizeof header);
  out += sizeof header;
  for (const format::Item& item : items) {
    if (item.length == 0) continue;
    std::memcpy(out, item.data, item.length);
    out += item.length;
  }
  bool ok = write_whole(staging_.data(), size);
  if (staging_.capacity() > kKeptStagingCapacity) std::vector<unsigned char>().swap(staging_);
  return ok;
}

}  // namespace qmtrc
