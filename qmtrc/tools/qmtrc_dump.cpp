// qmtrc_dump FILE - prints a qmtrc trace file, one line per record.

#include <cstdio>
#include <iostream>
#include <string>

#include "dump_format.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: qmtrc_dump FILE\n", stderr);
    return 2;
  }
  std::ios::sync_with_stdio(false);
  std::string error;
  bool ok = qmtrc_format_file(argv[1], std::cout, error);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "qmtrc_dump: cannot write the output\n";
    return 1;
  }
  if (!error.empty()) std::cerr << "qmtrc_dump: " << argv[1] << ": " << error << '\n';
  return ok ? 0 : 1;
}
