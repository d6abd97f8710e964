#include "record_filter.h"

#include <algorithm>
#include <charconv>

#include "dump_format.h"
#include "mask_parse.h"
#include "wygl/wytr_ids.h"

namespace qmtrc::dump {
namespace {

std::vector<std::string_view> items(std::string_view text) {
  std::vector<std::string_view> list;
  for (;;) {
    std::size_t comma = text.find(',');
    list.push_back(mask_text::trimmed(text.substr(0, comma)));
    if (comma == std::string_view::npos) return list;
    text.remove_prefix(comma + 1);
  }
}

bool has_piece(const qmtrc_record& record, const std::string& piece) {
  for (int i = 0; i < 3; ++i) {
    std::string_view data(reinterpret_cast<const char*>(record.data[i]), record.length[i]);
    if (record.length[i] != 0 && data.find(piece) != std::string_view::npos) return true;
  }
  return piece.empty();
}

}  // namespace

bool RecordFilter::set_levels(std::string_view text) {
  std::optional<std::uint32_t> mask = parse_mask(text);
  if (!mask) return false;
  levels_ = mask;
  return true;
}

bool RecordFilter::set_threads(std::string_view text) {
  std::vector<std::uint32_t> threads;
  for (std::string_view item : items(text)) {
    std::uint32_t thread = 0;
    auto [end, status] = std::from_chars(item.data(), item.data() + item.size(), thread);
    if (item.empty() || status != std::errc() || end != item.data() + item.size()) return false;
    threads.push_back(thread);
  }
  threads_ = std::move(threads);
  return true;
}

void RecordFilter::set_tracepoints(std::string_view text) {
  tracepoints_.clear();
  for (std::string_view item : items(text))
    tracepoints_.emplace_back(item);
}

bool RecordFilter::passes(const qmtrc_record& record) const {
  if (levels_ && *levels_ != UINT32_MAX && (wytr::levels_of_kind(record.kind) & *levels_) == 0)
    return false;
  if (!threads_.empty() &&
      std::find(threads_.begin(), threads_.end(), record.thread) == threads_.end())
    return false;
  if (!tracepoints_.empty()) {
    std::string name = tracepoint_name(record.tracepoint);
    std::string_view class_name = std::string_view(name).substr(0, name.find("::"));
    if (std::none_of(tracepoints_.begin(), tracepoints_.end(), [&](const std::string& wanted) {
          return wanted == name || wanted == class_name;
        }))
      return false;
  }
  return !text_ || has_piece(record, *text_);
}

}  // namespace qmtrc::dump
