// dump_format.h - turning trace records and trace files into text, for qmtrc_dump.
//
// Each record becomes one line:
//
//   <kind> <class>::<operation> 0x<object> [code=0x<8 hex digits> | "<text>" ...]
//
// See qmtrc/README.md for the rules.

#ifndef QMTRC_DUMP_FORMAT_H
#define QMTRC_DUMP_FORMAT_H

#include <iosfwd>
#include <string>

#include <qmtrc/qmtrc.h>

// One record as a line, without the line end.
std::string qmtrc_format_record(const qmtrc_record& record);

// Formats every record of the trace file at path, one line each, into out. Returns false,
// with error set, when the file cannot be read or is not a well-formed trace; the records
// before the fault are in out. A last record cut short (the writer died while writing it) is
// not formatted: the call still returns true, and error says what was left out.
bool qmtrc_format_file(const char* path, std::ostream& out, std::string& error);
bool qmtrc_format_file(const char* path, std::string& out, std::string& error);

#endif  // QMTRC_DUMP_FORMAT_H
