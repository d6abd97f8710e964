// Operation scopes: the entry and exit records of a traced operation.
//
// An operation_scope lives on the stack of the operation it traces. Its constructor writes
// the entry record when the entry level is enabled; its destructor writes the exit record,
// through qmgl_trc_exit, on every way out, exceptions included, when the entry level or the
// matching exit level is enabled. In between, the operation writes its other texts (error
// texts, state notes, resource events) from the same scope, with their own kinds and levels.
//
//   void qmgl_file::flush() {
//     wytr::operation_scope scope(wytr::tp::file_flush, wytr::depth::public_operation, this);
//     ...
//     scope.note(wytr::level::error_text, wytr::kind::error_text, "flush failed: %lu", code);
//   }
//
// Each level test stands inline, so a disabled scope costs two loads and two tests.

#ifndef WYGL_SRC_WYTR_WYTR_SCOPE_H
#define WYGL_SRC_WYTR_WYTR_SCOPE_H

#include <cstdint>

#include "wytr/wytr_record.h"

namespace wytr {

// Writes a text record (kind_number, tracepoint, object) when `levels` is enabled: the texts
// written outside any operation scope, and the notes of a scope.
template <class... Args>
void note(std::uint32_t levels, std::uint8_t kind_number, std::uint32_t tracepoint,
          void const* object, char const* format, Args... args) noexcept {
  if (wytr_enabled(levels)) write_text(kind_word(kind_number), tracepoint, object, format, args...);
}

// Public operations report at levels 0x1000/0x2000 with kinds 0x20/0x21; inner ones at
// 0x10000/0x20000 with kinds 0x2A/0x2B.
enum class depth : std::uint32_t {
  public_operation = level::public_entry,
  inner_operation = level::inner_entry,
};

class operation_scope {
 public:
  // Entry record without data.
  operation_scope(std::uint32_t tracepoint, depth d, void const* object = nullptr) noexcept
      : tracepoint_(tracepoint), entry_level_(static_cast<std::uint32_t>(d)), object_(object) {
    if (wytr_enabled(entry_level_)) wytr_write_plain(entry_kind_word(), tracepoint_, object_);
  }

  // Entry record whose data is a text formatted from the operation's arguments.
  template <class... Args>
  operation_scope(std::uint32_t tracepoint, depth d, void const* object, char const* format,
                  Args... args) noexcept
      : tracepoint_(tracepoint), entry_level_(static_cast<std::uint32_t>(d)), object_(object) {
    if (wytr_enabled(entry_level_))
      write_text(entry_kind_word(), tracepoint_, object_, format, args...);
  }

  operation_scope(operation_scope const&) = delete;
  operation_scope& operator=(operation_scope const&) = delete;

  ~operation_scope() {
    if (wytr_enabled(entry_level_ | (entry_level_ * 2)))
      qmgl_trc_exit(tracepoint_, exit_kind_number(), entry_level_, object_);
  }

  // Writes a text record with this scope's tracepoint and object when `levels` is enabled.
  template <class... Args>
  void note(std::uint32_t levels, std::uint8_t kind_number, char const* format,
            Args... args) const noexcept {
    wytr::note(levels, kind_number, tracepoint_, object_, format, args...);
  }

 private:
  std::uint8_t entry_kind_number() const noexcept {
    return entry_level_ == level::public_entry ? kind::public_entered : kind::inner_entered;
  }
  std::uint32_t entry_kind_word() const noexcept { return kind_word(entry_kind_number()); }
  std::uint8_t exit_kind_number() const noexcept {
    return static_cast<std::uint8_t>(entry_kind_number() + 1);
  }

  std::uint32_t tracepoint_;
  std::uint32_t entry_level_;
  void const* object_;
};

}  // namespace wytr

#endif  // WYGL_SRC_WYTR_WYTR_SCOPE_H
