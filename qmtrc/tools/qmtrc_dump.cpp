// qmtrc_dump - prints a qmtrc trace file, one line per record, or writes it as a Chrome
// trace-event timeline. `qmtrc_dump --help` describes the options.

#include <iostream>

#include "dump_command.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  return qmtrc::dump::run_command(argc, argv, std::cout, std::cerr);
}
