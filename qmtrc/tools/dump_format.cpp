#include "dump_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

#include "record_format.h"
#include "wygl/wytr_ids.h"

namespace {

namespace format = qmtrc::format;

void append_hex(std::string& out, std::uint64_t value, int min_digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char digits[16];
  int count = 0;
  do {
    digits[count++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  for (; count < min_digits; ++count)
    digits[count] = '0';
  while (count > 0)
    out += digits[--count];
}

void append_name(std::string& out, const char* name, const char* unknown_prefix,
                 std::uint32_t number, int digits) {
  if (name) {
    out += name;
  } else {
    out += unknown_prefix;
    append_hex(out, number, digits);
  }
}

bool is_exit_kind(std::uint32_t kind) {
  namespace kind_number = wytr::kind;
  for (std::uint8_t exit_kind :
       {kind_number::public_left, kind_number::inner_left, kind_number::public_left_in_exception,
        kind_number::inner_left_in_exception}) {
    if (kind == wytr::kind_word(exit_kind)) return true;
  }
  return false;
}

void append_quoted(std::string& out, const unsigned char* data, std::uint32_t length) {
  out += '"';
  for (std::uint32_t i = 0; i < length; ++i) {
    unsigned char c = data[i];
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          append_hex(out, c, 2);
        } else {
          // Bytes from 0x80 on pass through, so that UTF-8 text stays readable.
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

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

}  // namespace

std::string qmtrc_format_record(const qmtrc_record& record) {
  std::string line;
  append_name(line, wytr::name_of_kind(record.kind), "kind_0x", record.kind, 8);
  line += ' ';
  append_name(line, wytr::name_of_class(record.tracepoint), "class_0x",
              wytr::tracepoint_class(record.tracepoint), 2);
  line += "::";
  append_name(line, wytr::name_of_operation(record.tracepoint), "op_0x",
              wytr::tracepoint_operation(record.tracepoint), 2);
  line += " 0x";
  append_hex(line, record.object, 1);

  int items = 0;
  int four_byte_item = -1;
  for (int i = 0; i < 3; ++i) {
    if (record.length[i] == 0) continue;
    ++items;
    if (record.length[i] == 4) four_byte_item = i;
  }
  if (items == 1 && four_byte_item >= 0 && is_exit_kind(record.kind)) {
    line += " code=0x";
    append_hex(line, format::get_u32(record.data[four_byte_item]), 8);
    return line;
  }
  for (int i = 0; i < 3; ++i) {
    if (record.length[i] == 0) continue;
    line += ' ';
    append_quoted(line, record.data[i], record.length[i]);
  }
  return line;
}

bool qmtrc_format_file(const char* path, std::ostream& out, std::string& error) {
  error.clear();
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    error = "cannot open the file";
    return false;
  }
  std::vector<unsigned char> bytes;
  if (read_bytes(file.get(), bytes, format::kFileHeaderSize) < format::kFileHeaderSize ||
      !std::equal(bytes.begin(), bytes.begin() + sizeof format::kMagic, format::kMagic)) {
    error = "not a qmtrc trace file";
    return false;
  }
  std::uint32_t version = format::get_u32(bytes.data() + 8);
  if (version != format::kVersion) {
    error = "unsupported trace file version " + std::to_string(version);
    return false;
  }
  std::uint32_t header_size = format::get_u32(bytes.data() + 12);
  if (header_size < format::kFileHeaderSize) {
    error = "bad file header size " + std::to_string(header_size);
    return false;
  }
  // Later versions may extend the header; what this reader does not know is skipped.
  std::size_t skip = header_size - format::kFileHeaderSize;
  if (read_bytes(file.get(), bytes, skip) < skip) {
    error = "truncated file header";
    return false;
  }

  std::uint64_t offset = header_size;
  std::vector<unsigned char> data;
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
    out << qmtrc_format_record(format::to_record(header, data.data())) << '\n';
    offset += header.size;
  }
  if (std::ferror(file.get())) {
    error = "read error" + at_offset(offset);
    return false;
  }
  return true;
}

bool qmtrc_format_file(const char* path, std::string& out, std::string& error) {
  std::ostringstream text;
  bool ok = qmtrc_format_file(path, text, error);
  out = std::move(text).str();
  return ok;
}
