// What a handle of the POSIX backend points to: one record per open handle.

#ifndef WYGL_SRC_OS_POSIX_OBJECT_RECORD_H
#define WYGL_SRC_OS_POSIX_OBJECT_RECORD_H

#include <cstdint>

namespace wygl::os {

// The kinds of object. The numbers of the named kinds are stored in shared memory, where other
// processes of other builds read them: they never change. Threads are never named.
enum class object_kind : std::uint32_t { mutex = 1, event = 2, mapping = 3, thread = 4 };

class object_record {
 public:
  explicit object_record(object_kind kind) noexcept : _kind(kind) {}
  virtual ~object_record() = default;
  object_record(object_record const&) = delete;
  object_record& operator=(object_record const&) = delete;

  object_kind kind() const noexcept { return _kind; }

  // As wait_for (os/kernel_object.h). An object that cannot be waited for (a mapping) fails
  // with ERROR_ACCESS_DENIED, as the system refuses such a handle.
  virtual std::uint32_t wait(std::uint32_t timeout_ms) noexcept;

 private:
  object_kind _kind;
};

// Sets ERROR_INVALID_HANDLE (6) as the last error and returns null.
object_record* no_record() noexcept;

// The record behind h when it is of the given kind; otherwise null, with
// ERROR_INVALID_HANDLE (6) as the last error. Inline: every release and every signal stands on
// it.
inline object_record* record_of(void* h, object_kind kind) noexcept {
  auto* const record = static_cast<object_record*>(h);
  if (record != nullptr && record->kind() == kind) return record;
  return no_record();
}

}  // namespace wygl::os

#endif  // WYGL_SRC_OS_POSIX_OBJECT_RECORD_H
