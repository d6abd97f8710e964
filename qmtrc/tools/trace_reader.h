// trace_reader.h - reading a trace file record by record (format: qmtrc/README.md).

#ifndef QMTRC_TRACE_READER_H
#define QMTRC_TRACE_READER_H

#include <functional>
#include <string>

#include <qmtrc/qmtrc.h>

namespace qmtrc::dump {

using RecordVisitor = std::function<void(const qmtrc_record& record)>;

// Hands every record of the trace file at path to visit, in file order; the record's data
// pointers are valid during the call. Returns false, with error set, when the file cannot be
// read or is not a well-formed trace; the records before the fault have been visited. A last
// record cut short (the writer died while writing it) is not visited: the call still returns
// true, and error says what was left out.
bool read_trace_file(const char* path, const RecordVisitor& visit, std::string& error);

}  // namespace qmtrc::dump

#endif  // QMTRC_TRACE_READER_H
