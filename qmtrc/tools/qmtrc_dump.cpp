// qmtrc_dump - prints a qmtrc trace file, one line per record, or writes it as a Chrome
// trace-event timeline. `qmtrc_dump --help` describes the options.

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "dump_format.h"
#include "mask_parse.h"

namespace {

constexpr const char* kUsage =
    "usage: qmtrc_dump [--relative] [--level LEVELS] [--thread N,...] [--tracepoint TP,...]\n"
    "                  [--text TEXT] FILE\n"
    "       qmtrc_dump --chrome [--level ...] [--thread ...] [--tracepoint ...] [--text ...]\n"
    "                  FILE > trace.json\n";

void print_help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\n"
      "Prints the records of a qmtrc trace file, one line each:\n"
      "  SEQUENCE TIME tTHREAD KIND CLASS::OPERATION 0xOBJECT [DATA]\n"
      "TIME is UTC in ISO 8601 with microseconds (2025-01-31T08:15:02.123456Z).\n"
      "\n"
      "  --relative          TIME in seconds since the file's first record (+0.000125)\n"
      "  --chrome            write a Chrome trace-event timeline (JSON) instead, which\n"
      "                      ui.perfetto.dev and chrome://tracing open: one track per thread,\n"
      "                      operations as durations, other records as instant events\n"
      "  --level LEVELS      only records written under these levels\n"
      "  --thread N,...      only records of these threads\n"
      "  --tracepoint TP,... only records at these tracepoints: CLASS::OPERATION, or CLASS\n"
      "                      for all of a class's (qmgl_socket::read, qmgl_socket)\n"
      "  --text TEXT         only records whose data contains TEXT\n"
      "  --help              this text\n"
      "\n"
      "LEVELS, as QMTRC_MASK takes them: ",
      stdout);
  qmtrc::write_mask_forms(stdout);
  std::fputs(
      ".\n"
      "A record is shown when it passes every filter given.\n"
      "\n"
      "Exit status: 0 when the file was read to its end (a last record cut short by a crash\n"
      "is reported on stderr and left out); 1 when it cannot be read or is damaged; 2 for a\n"
      "wrong command line.\n",
      stdout);
}

int usage_error(const std::string& what) {
  std::cerr << "qmtrc_dump: " << what << "\n" << kUsage << "(qmtrc_dump --help explains)\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qmtrc::dump::DumpOptions options;
  const char* path = nullptr;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      if (path) return usage_error("more than one file");
      path = argv[i];
      continue;
    }
    if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      print_help();
      return std::fflush(stdout) == 0 ? 0 : 1;
    } else if (arg == "--relative") {
      options.relative = true;
    } else if (arg == "--chrome") {
      options.output = qmtrc::dump::DumpOptions::Output::chrome;
    } else {
      // The options with a value: "--level error" or "--level=error".
      std::string_view name = arg.substr(0, arg.find('='));
      std::string_view value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return usage_error(std::string(arg) + " needs a value");
      }
      auto& filter = options.filter;
      if (name == "--level") {
        if (!filter.set_levels(value))
          return usage_error("--level " + std::string(value) + ": not levels (see --help)");
      } else if (name == "--thread") {
        if (!filter.set_threads(value))
          return usage_error("--thread " + std::string(value) + ": not thread numbers");
      } else if (name == "--tracepoint") {
        filter.set_tracepoints(value);
      } else if (name == "--text") {
        filter.set_text(std::string(value));
      } else {
        return usage_error("unknown option " + std::string(arg));
      }
    }
  }
  if (!path) return usage_error("no trace file given");

  std::ios::sync_with_stdio(false);
  std::string error;
  bool ok = qmtrc::dump::dump_file(path, options, std::cout, error);
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "qmtrc_dump: cannot write the output\n";
    return 1;
  }
  if (!error.empty()) std::cerr << "qmtrc_dump: " << path << ": " << error << '\n';
  return ok ? 0 : 1;
}
