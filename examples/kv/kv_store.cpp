#include "kv_store.h"

#include <algorithm>
#include <chrono>

#include "kv_hold.h"

std::uint64_t kv_now() {
  auto const since_1970 = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(since_1970).count());
}

kv_store::kv_store(kv_change_sink* sink) : _sink(sink) {}

std::uint32_t kv_store::log(kv_change& change) {
  change.seq = ++_seq;
  if (_sink != nullptr) _sink->record(change);
  return change.seq;
}

std::uint32_t kv_store::put(std::string const& key, qmgl_value const& value) {
  kv_change change;
  change.kind = kv_change::put;
  change.key = key;
  change.value = value;
  qmgl_value stored = value;
  kv_hold hold(_guard);
  entry& e = _entries[key];
  e.value.swap(stored);
  e.deadline = 0;
  return log(change);
}

std::optional<qmgl_value> kv_store::get(std::string const& key, std::uint64_t now) const {
  kv_hold hold(_guard);
  auto const found = _entries.find(key);
  if (found == _entries.end() || expired(found->second, now)) return std::nullopt;
  return found->second.value;
}

std::optional<std::uint32_t> kv_store::del(std::string const& key, std::uint64_t now) {
  kv_change change;
  change.kind = kv_change::del;
  change.key = key;
  kv_hold hold(_guard);
  auto const found = _entries.find(key);
  if (found == _entries.end()) return std::nullopt;
  bool const was_present = !expired(found->second, now);
  _entries.erase(found);
  if (!was_present) return std::nullopt;
  return log(change);
}

std::optional<std::uint32_t> kv_store::expire(std::string const& key, int seconds,
                                              std::uint64_t now) {
  if (seconds <= 0) return del(key, now);
  kv_change change;
  change.kind = kv_change::expire;
  change.key = key;
  change.deadline = now + static_cast<std::uint64_t>(seconds);
  kv_hold hold(_guard);
  auto const found = _entries.find(key);
  if (found == _entries.end() || expired(found->second, now)) return std::nullopt;
  found->second.deadline = change.deadline;
  return log(change);
}

std::vector<std::string> kv_store::keys(std::uint64_t now) const {
  std::vector<std::string> names;
  {
    kv_hold hold(_guard);
    names.reserve(_entries.size());
    for (auto const& [key, e] : _entries)
      if (!expired(e, now)) names.push_back(key);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::size_t kv_store::present(std::uint64_t now) const {
  kv_hold hold(_guard);
  return static_cast<std::size_t>(
      std::count_if(_entries.begin(), _entries.end(),
                    [now](auto const& item) { return !expired(item.second, now); }));
}

std::size_t kv_store::size() const {
  kv_hold hold(_guard);
  return _entries.size();
}

std::uint32_t kv_store::seq() const {
  kv_hold hold(_guard);
  return _seq;
}

std::size_t kv_store::drop_expired(std::uint64_t now) {
  kv_hold hold(_guard);
  return std::erase_if(_entries, [now](auto const& item) { return expired(item.second, now); });
}

kv_snapshot kv_store::snapshot() const {
  kv_snapshot shot;
  kv_hold hold(_guard);
  shot.seq = _seq;
  shot.changes.reserve(_entries.size());
  for (auto const& [key, e] : _entries) {
    kv_change change;
    change.seq = _seq;
    change.key = key;
    change.value = e.value;
    shot.changes.push_back(change);
    if (e.deadline == 0) continue;
    change.kind = kv_change::expire;
    change.value = qmgl_value();
    change.deadline = e.deadline;
    shot.changes.push_back(std::move(change));
  }
  return shot;
}

void kv_store::apply(kv_change const& change) {
  kv_hold hold(_guard);
  _seq = change.seq;
  switch (change.kind) {
    case kv_change::put: {
      entry& e = _entries[change.key];
      e.value = change.value;
      e.deadline = 0;
      break;
    }
    case kv_change::del:
      _entries.erase(change.key);
      break;
    case kv_change::expire: {
      auto const found = _entries.find(change.key);
      if (found != _entries.end()) found->second.deadline = change.deadline;
      break;
    }
    case kv_change::base:
      break;
  }
}
