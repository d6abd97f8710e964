#include "trace_file.h"

#include <cerrno>
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

// The reason of the call that just failed; never 0, so that a failure is not taken for success.
int last_error() noexcept {
  return errno != 0 ? errno : EIO;
}

bool write_all(std::FILE* file, const unsigned char* bytes, std::size_t size) noexcept {
  bool ok = std::fwrite(bytes, 1, size, file) == size;
  return std::fflush(file) == 0 && ok;
}

// Gives an empty file the file header; accepts a file that starts with a header of this
// version. The stream is left at the end, where records are appended.
int start_or_check(std::FILE* file) noexcept {
  unsigned char existing[format::kFileHeaderSize];
  if (std::fseek(file, 0, SEEK_SET) != 0) return last_error();
  std::size_t have = std::fread(existing, 1, sizeof existing, file);
  if (std::ferror(file) || std::fseek(file, 0, SEEK_END) != 0) return last_error();
  if (have == 0) {
    unsigned char header[format::kFileHeaderSize];
    format::encode_file_header(header);
    return write_all(file, header, sizeof header) ? 0 : last_error();
  }
  return have == sizeof existing && is_trace_header(existing) ? 0 : TraceFile::kNotATrace;
}

}  // namespace

int TraceFile::open(const char* path) noexcept {
  close();
  errno = 0;
  // "a+b": reading the existing header and appending through one stream, so the check and
  // the writes concern the same file.
  std::FILE* file = std::fopen(path, "a+b");
  if (!file) return last_error();
  // Unbuffered, so that each record goes to the operating system as one write call.
  std::setvbuf(file, nullptr, _IONBF, 0);
  int error = start_or_check(file);
  if (error != 0) {
    std::fclose(file);
    return error;
  }
  file_ = file;
  return 0;
}

void TraceFile::close() noexcept {
  if (file_) std::fclose(file_);
  file_ = nullptr;
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
  bool ok = write_all(file_, staging_.data(), size);
  if (staging_.capacity() > kKeptStagingCapacity) std::vector<unsigned char>().swap(staging_);
  return ok;
}

}  // namespace qmtrc
