#include "os/mapping.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <new>

#include <sys/mman.h>

#include "os/error_codes.h"
#include "os/last_error.h"
#include "os/posix/errno_map.h"
#include "os/posix/named_segment.h"
#include "os/posix/object_record.h"

namespace wygl::os {
namespace {

class mapping_object final : public object_record {
 public:
  explicit mapping_object(named_segment* segment) noexcept
      : object_record(object_kind::mapping), _segment(segment) {}
  ~mapping_object() override { release_segment(_segment, false); }

  named_segment const* segment() const noexcept { return _segment; }

 private:
  named_segment* _segment;
};

// The length of each view, which unmapping needs and Windows does not ask for.
std::mutex views_mutex;
std::map<void*, std::size_t>& views() {
  static std::map<void*, std::size_t> lengths;
  return lengths;
}

handle wrap_segment(segment_claim const& claim) noexcept {
  if (claim.segment == nullptr) return nullptr;
  auto* object = new (std::nothrow) mapping_object(claim.segment);
  if (object == nullptr) {
    release_segment(claim.segment, false);
    set_last_error(err::not_enough_memory);
  }
  return object;
}

}  // namespace

creation create_mapping(char const* name, std::uint32_t size) noexcept {
  if (size == 0) {
    set_last_error(err::invalid_parameter);
    return {nullptr, false};
  }
  segment_claim const claim =
      claim_segment(name, object_kind::mapping, true, size, nullptr, nullptr);
  handle const object = wrap_segment(claim);
  return {object, object != nullptr && claim.existed};
}

handle open_mapping(char const* name) noexcept {
  return wrap_segment(claim_segment(name, object_kind::mapping, false, 0, nullptr, nullptr));
}

void* map_view(handle mapping, std::uint32_t size) noexcept {
  object_record* const record = record_of(mapping, object_kind::mapping);
  if (record == nullptr) return nullptr;
  named_segment const* const segment = static_cast<mapping_object*>(record)->segment();
  std::uint64_t const usable = segment_payload_size(segment);
  std::uint64_t const length = size == 0 ? usable : size;
  // Windows refuses a view beyond the block with this error.
  if (length > usable) {
    set_last_error(err::access_denied);
    return nullptr;
  }
  void* const address =
      mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED,
           segment_file(segment), static_cast<off_t>(segment_payload_offset()));
  if (address == MAP_FAILED) {
    set_last_error(windows_error_from_errno(errno));
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> guard(views_mutex);
    views().emplace(address, static_cast<std::size_t>(length));
  } catch (std::bad_alloc const&) {
    munmap(address, static_cast<std::size_t>(length));
    set_last_error(err::not_enough_memory);
    return nullptr;
  }
  return address;
}

void unmap_view(void* address) noexcept {
  std::size_t length = 0;
  {
    std::lock_guard<std::mutex> guard(views_mutex);
    auto const view = views().find(address);
    if (view == views().end()) return;
    length = view->second;
    views().erase(view);
  }
  munmap(address, length);
}

}  // namespace wygl::os
