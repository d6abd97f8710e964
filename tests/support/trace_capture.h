// Capturing trace records in tests.
//
//   trace_capture capture(0x800);          // mask 0x800, ring emptied
//   ... code under test ...
//   auto records = capture.take();         // everything written since, oldest first
//
// The previous mask is restored when the capture ends.

#ifndef WYGL_TESTS_SUPPORT_TRACE_CAPTURE_H
#define WYGL_TESTS_SUPPORT_TRACE_CAPTURE_H

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct captured_record {
  std::uint32_t kind = 0;
  std::uint32_t tracepoint = 0;
  std::uint64_t object = 0;
  std::string data;  // data item 1; the other two are always empty in this library

  friend bool operator==(captured_record const&, captured_record const&) = default;
};

void PrintTo(captured_record const& r, std::ostream* out);

// The object word a record holds for the object at p.
inline std::uint64_t object_word(void const* p) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
}

// A record without data, one whose data is a 4-byte little-endian value, and one with a
// text. The object is given as its object word (object_word), which stays valid to compare
// after the object itself is gone, or as a pointer to a live object.
captured_record plain_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object);
captured_record value_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
                             std::uint32_t value);
captured_record text_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
                            std::string text);

inline captured_record plain_record(std::uint32_t kind, std::uint32_t tracepoint,
                                    void const* object) {
  return plain_record(kind, tracepoint, object_word(object));
}
inline captured_record value_record(std::uint32_t kind, std::uint32_t tracepoint,
                                    void const* object, std::uint32_t value) {
  return value_record(kind, tracepoint, object_word(object), value);
}
inline captured_record text_record(std::uint32_t kind, std::uint32_t tracepoint, void const* object,
                                   std::string text) {
  return text_record(kind, tracepoint, object_word(object), std::move(text));
}

class trace_capture {
 public:
  explicit trace_capture(std::uint32_t mask);
  ~trace_capture();
  trace_capture(trace_capture const&) = delete;
  trace_capture& operator=(trace_capture const&) = delete;

  // Removes and returns the records written since the capture began or the last take.
  std::vector<captured_record> take();

 private:
  std::uint32_t previous_mask_;
};

// The records for which keep(record) is true, in their order.
template <class Keep>
std::vector<captured_record> records_where(std::vector<captured_record> const& records, Keep keep) {
  std::vector<captured_record> kept;
  for (captured_record const& r : records)
    if (keep(r)) kept.push_back(r);
  return kept;
}

#endif  // WYGL_TESTS_SUPPORT_TRACE_CAPTURE_H
