#include <wygl/qmgl_file_stream.h>

namespace {

// Blocks read from the file at a time.
constexpr unsigned int block_size = 512;

}  // namespace

qmgl_input_file::qmgl_input_file(qmgl_file& file) : _file(file) {}

qmgl_input_file::qmgl_input_file(char const* name, qmgl_file::access_denied_indicator denied)
    : _file(name, qmgl_file::open_existing, qmgl_file::access_read, denied) {}

bool qmgl_input_file::is_interactive() {
  return _interactive;
}

void qmgl_input_file::fill_buffer() {
  char block[block_size];
  unsigned int const n = _file.read(block, block_size);
  if (n > 0) add_data(block, n);
}

char qmgl_input_file::really_get_char() {
  int const c = get_buffered_char();
  // A file's end reads as 0xFF, which the value reader takes for the end of the input, not
  // as NUL, its end of a line.
  if (c == -1) return end_of_source('\xff');
  return static_cast<char>(c);
}

qmgl_input_file& qmgl_input_file::std_input() {
  static qmgl_input_file stream(qmgl_file::std_input());
  return stream;
}
