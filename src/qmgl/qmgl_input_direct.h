// Taking runs of characters straight from the memory of the library's own sources.
//
// A reader that scans whole runs of characters (the value text reader) takes them here
// instead of calling get_char once per character. When the input is, of exactly its class, a
// qmgl_input_str, a qmgl_input_file or one of the RPC streams, has nothing pushed back, no
// echo target and has not met its end, the characters it already holds are shown as a window;
// taking characters from the window leaves the input exactly as the get_char calls that
// return them would (and a return_char after the last one), so that get_char then goes on
// right behind them. Every other input shows no window, and its reader uses get_char.
//
//   qmgl_input_direct from(in);
//   qmgl_input_direct::span w = from.window(256);
//   // ... scan w.begin up to some point `to` in the window ...
//   from.take(w.begin, to, false);   // as (to - w.begin) get_char calls
//
// A window holds no NUL: the characters a source delivers as NUL, its end among them, always
// go through get_char. It stays valid until the input is used otherwise (get_char may fill a
// buffer and move its bytes).

#ifndef WYGL_SRC_QMGL_QMGL_INPUT_DIRECT_H
#define WYGL_SRC_QMGL_QMGL_INPUT_DIRECT_H

#include <cstddef>

#include <wygl/qmgl_input.h>

struct qmgl_rpc_input_output;

class qmgl_input_direct {
 public:
  struct span {
    char const* begin;
    char const* end;
  };

  explicit qmgl_input_direct(qmgl_input& in) noexcept;

  // The next characters the input holds, at most most of them and none of them NUL, which
  // get_char would return one by one without any other effect; empty when there are none or
  // when they must go through get_char.
  span window(std::size_t most) const noexcept;
  // The characters of the window from begin up to to, which are at least one, are read, as by
  // get_char; with returned, the last of them is then pushed back, as by return_char.
  void take(char const* begin, char const* to, bool returned) noexcept;

 private:
  enum class kind { none, string, file, rpc };

  static qmgl_rpc_input_output* rpc_stream(qmgl_input& in) noexcept;
  template <class Source>
  static span buffered_window(Source& source, std::size_t most) noexcept;

  qmgl_input_imp* _input = nullptr;
  kind _kind = kind::none;
};

#endif  // WYGL_SRC_QMGL_QMGL_INPUT_DIRECT_H
