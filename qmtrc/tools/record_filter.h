// record_filter.h - which records qmtrc_dump shows: its --level, --thread, --tracepoint and
// --text options.
//
// Each option given narrows the selection: a record is shown when it passes every option
// given, and passes an option when it matches any of the option's comma-separated items.
//
//   RecordFilter filter;
//   filter.set_levels("error,state");    // by the levels its kind is written under
//   filter.set_threads("2,3");           // by the writing thread's number
//   filter.set_tracepoints("qmgl_socket,qmgl_rpc_client::constructor");
//   filter.set_text("reset");            // by a piece of one of its data items

#ifndef QMTRC_RECORD_FILTER_H
#define QMTRC_RECORD_FILTER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <qmtrc/qmtrc.h>

namespace qmtrc::dump {

class RecordFilter {
 public:
  // Levels in the trace mask's text form (names or numbers, mask_parse.h). A record passes
  // when its kind is written under any of them; "all" passes every record, also of kinds that
  // are not wygl's. False, and no change, when the text is not a mask.
  bool set_levels(std::string_view text);

  // Thread numbers, decimal. False, and no change, when an item is not a number.
  bool set_threads(std::string_view text);

  // Tracepoints as qmtrc_dump prints them: "class::operation" for one, "class" for all of a
  // class's ("qmgl_socket", "class_0x7e::op_0x05").
  void set_tracepoints(std::string_view text);

  // Bytes that one of the record's data items must contain.
  void set_text(std::string text) { text_ = std::move(text); }

  bool passes(const qmtrc_record& record) const;

 private:
  std::optional<std::uint32_t> levels_;
  std::vector<std::uint32_t> threads_;
  std::vector<std::string> tracepoints_;
  std::optional<std::string> text_;
};

}  // namespace qmtrc::dump

#endif  // QMTRC_RECORD_FILTER_H
