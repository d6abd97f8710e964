#include "support/trace_capture.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>
#include <qmtrc/qmtrc.h>

void PrintTo(captured_record const& r, std::ostream* out) {
  char words[64];
  std::snprintf(words, sizeof words, "{kind 0x%08x, tracepoint 0x%08x, object 0x%llx, data ",
                r.kind, r.tracepoint, static_cast<unsigned long long>(r.object));
  *out << words << ::testing::PrintToString(r.data) << "}";
}

captured_record plain_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object) {
  return {kind, tracepoint, object, {}};
}

captured_record value_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
                             std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return {kind, tracepoint, object, bytes};
}

captured_record text_record(std::uint32_t kind, std::uint32_t tracepoint, std::uint64_t object,
                            std::string text) {
  return {kind, tracepoint, object, std::move(text)};
}

trace_capture::trace_capture(std::uint32_t mask) {
  qmtrc_clear();
  previous_mask_ = qmtrc_set_mask(mask);
}

trace_capture::~trace_capture() {
  qmtrc_set_mask(previous_mask_);
  qmtrc_clear();
}

std::vector<captured_record> trace_capture::take() {
  std::vector<captured_record> records;
  qmtrc_drain(
      [](qmtrc_record const* r, void* context) {
        auto* out = static_cast<std::vector<captured_record>*>(context);
        captured_record c{r->kind, r->tracepoint, r->object, {}};
        c.data.assign(reinterpret_cast<char const*>(r->data[0]), r->length[0]);
        out->push_back(std::move(c));
      },
      &records);
  return records;
}
