// dump_command.h - qmtrc_dump's command line: its options, its help and its exit status.
//
//   int main(int argc, char** argv) {
//     return qmtrc::dump::run_command(argc, argv, std::cout, std::cerr);
//   }
//
// `qmtrc_dump --help` (print_help in dump_command.cpp) describes the options.

#ifndef QMTRC_DUMP_COMMAND_H
#define QMTRC_DUMP_COMMAND_H

#include <iosfwd>

namespace qmtrc::dump {

// Runs qmtrc_dump on the arguments argv[1] to argv[argc - 1]: writes the dump, or the help,
// to out, and what went wrong to err, each message a line that starts with "qmtrc_dump: ".
// Returns the exit status: 0 when the file was read to its end (a last record cut short is
// reported on err and left out), 1 when it cannot be read, is damaged, or out fails, 2 for a
// wrong command line.
int run_command(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace qmtrc::dump

#endif  // QMTRC_DUMP_COMMAND_H
