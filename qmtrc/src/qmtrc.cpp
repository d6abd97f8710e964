// The C interface of qmtrc, and what happens when the library is loaded.

#include <qmtrc/qmtrc.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "mask_parse.h"
#include "recorder.h"

uint32_t trcevents = 0;

namespace {

// Empty items get a valid address, so that consumers may pass any item to memcpy and the
// like without a special case.
const unsigned char kNoData[1] = {0};

qmtrc::format::Item item(uint32_t length, const void* data) {
  if (length == 0) return {kNoData, 0};
  return {static_cast<const unsigned char*>(data), length};
}

// The one place where qmtrc writes to stderr: a variable it cannot follow is reported once,
// at load, instead of leaving the user to wonder why nothing is traced.
void configure_from_environment() noexcept {
  const char* mask = std::getenv("QMTRC_MASK");
  if (mask) {
    std::optional<std::uint32_t> parsed = qmtrc::parse_mask(mask);
    if (!parsed) {
      std::fprintf(stderr, "qmtrc: QMTRC_MASK \"%s\" cannot be read, nothing is traced; it takes ",
                   mask);
      qmtrc::write_mask_forms(stderr);
      std::fputc('\n', stderr);
    }
    qmtrc_set_mask(parsed.value_or(0));
  }
  const char* file = std::getenv("QMTRC_FILE");
  if (file && *file) {
    int error = qmtrc::Recorder::instance().set_file(file);
    if (error == qmtrc::TraceFile::kNotATrace)
      std::fprintf(stderr,
                   "qmtrc: cannot use trace file %s (QMTRC_FILE): it holds something other than "
                   "a qmtrc trace of format version %u\n",
                   file, static_cast<unsigned>(qmtrc::format::kVersion));
    else if (error != 0)
      std::fprintf(stderr, "qmtrc: cannot use trace file %s (QMTRC_FILE): %s\n", file,
                   std::strerror(error));
  }
}

// Runs when the library is loaded. Writers linked against qmtrc are initialised after it,
// so they see the configured mask from their first tracepoint on.
const struct LoadTimeConfiguration {
  LoadTimeConfiguration() noexcept { configure_from_environment(); }
} load_time_configuration;

}  // namespace

void trcwriterec(uint32_t kind, uint32_t tracepoint, const void* object, uint32_t length1,
                 const void* data1, uint32_t length2, const void* data2, uint32_t length3,
                 const void* data3) {
  const qmtrc::format::Item items[3] = {item(length1, data1), item(length2, data2),
                                        item(length3, data3)};
  qmtrc::Recorder::instance().write(kind, tracepoint, reinterpret_cast<std::uintptr_t>(object),
                                    items);
}

uint32_t qmtrc_set_mask(uint32_t mask) {
  return std::atomic_ref<uint32_t>(trcevents).exchange(mask, std::memory_order_relaxed);
}

void qmtrc_set_sink(qmtrc_visit_fn sink, void* context) {
  qmtrc::Recorder::instance().set_sink(sink, context);
}

size_t qmtrc_drain(qmtrc_visit_fn visit, void* context) {
  return qmtrc::Recorder::instance().drain(visit, context);
}

void qmtrc_clear(void) {
  qmtrc::Recorder::instance().clear();
}

size_t qmtrc_set_ring_capacity(size_t bytes) {
  return qmtrc::Recorder::instance().set_capacity(bytes);
}

uint64_t qmtrc_lost(void) {
  return qmtrc::Recorder::instance().lost();
}

int qmtrc_set_file(const char* path) {
  return qmtrc::Recorder::instance().set_file(path) == 0 ? 0 : -1;
}
