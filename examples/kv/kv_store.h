// The key-value store in memory: STR keys, values of any type, optional deadlines.
//
// Every change takes the next sequence number and is handed, while the store's lock is held,
// to the store's change sink (the log), so that the sink sees the changes in the order of
// their numbers. The sink must not wait for anything that may need the store's lock.
//
// Time is passed in by the caller, in whole seconds since 1970 (kv_now()), so that expiry can
// be tested without waiting. A key whose deadline has come is absent for every read at once;
// drop_expired frees its memory later.
//
// Thread safety: every operation may be called from any thread; one lock (a qmgl_guard)
// orders them.

#ifndef WYGL_KV_STORE_H
#define WYGL_KV_STORE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include <wygl/qmgl_sync.h>
#include <wygl/qmgl_value.h>

#include "kv_change.h"

// Where the store's changes go.
struct kv_change_sink {
  virtual ~kv_change_sink() = default;
  // Called with the store's lock held, once per change, in sequence order.
  virtual void record(kv_change const& change) = 0;
};

// The current time in whole seconds since 1970.
std::uint64_t kv_now();

// What a snapshot holds: the state after change seq, as the changes that rebuild it.
struct kv_snapshot {
  std::uint32_t seq = 0;
  std::vector<kv_change> changes;
};

class kv_store {
 public:
  // sink may be null: changes then go nowhere.
  explicit kv_store(kv_change_sink* sink = nullptr);
  kv_store(kv_store const&) = delete;
  kv_store& operator=(kv_store const&) = delete;

  // Stores value under key, dropping any deadline. Returns the change's sequence number.
  std::uint32_t put(std::string const& key, qmgl_value const& value);
  // The value under key, or nothing when the key is absent or its deadline has come.
  std::optional<qmgl_value> get(std::string const& key, std::uint64_t now) const;
  // Removes key; the change's sequence number, or nothing when the key was absent.
  std::optional<std::uint32_t> del(std::string const& key, std::uint64_t now);
  // Gives key a deadline seconds after now; seconds of 0 or less removes it at once (a del).
  // The change's sequence number, or nothing when the key is absent.
  std::optional<std::uint32_t> expire(std::string const& key, int seconds, std::uint64_t now);
  // The present keys, sorted.
  std::vector<std::string> keys(std::uint64_t now) const;
  // The number of present keys.
  std::size_t present(std::uint64_t now) const;
  // The number of keys held, those past their deadline but not yet dropped included.
  std::size_t size() const;
  // The sequence number of the last change.
  std::uint32_t seq() const;

  // Frees every key whose deadline has come; returns how many. Not a change: the deadlines are
  // in the log already.
  std::size_t drop_expired(std::uint64_t now);
  // The whole state, as of one moment, for a snapshot of the log.
  kv_snapshot snapshot() const;
  // Applies a change read back from the log, without handing it to the sink; the store's
  // sequence number becomes the change's.
  void apply(kv_change const& change);

 private:
  struct entry {
    qmgl_value value;
    std::uint64_t deadline = 0;  // 0: none
  };

  static bool expired(entry const& e, std::uint64_t now) noexcept {
    return e.deadline != 0 && now >= e.deadline;
  }
  // Numbers the change, hands it to the sink and returns its number; lock held.
  std::uint32_t log(kv_change& change);

  kv_change_sink* _sink;
  mutable qmgl_guard _guard;
  std::unordered_map<std::string, entry> _entries;
  std::uint32_t _seq = 0;
};

#endif  // WYGL_KV_STORE_H
