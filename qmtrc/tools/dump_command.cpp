// The command line of qmtrc_dump (dump_command.h).

#include "dump_command.h"

#include <ostream>
#include <string>
#include <string_view>

#include "dump_format.h"
#include "mask_parse.h"

namespace qmtrc::dump {
namespace {

constexpr const char* kUsage =
    "usage: qmtrc_dump [--relative] [--level LEVELS] [--thread N,...] [--tracepoint TP,...]\n"
    "                  [--text TEXT] FILE\n"
    "       qmtrc_dump --chrome [--level ...] [--thread ...] [--tracepoint ...] [--text ...]\n"
    "                  FILE > trace.json\n";

void print_help(std::ostream& out) {
  out << kUsage
      << "\n"
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
         "LEVELS, as QMTRC_MASK takes them: ";
  qmtrc::put_mask_forms([&out](const char* piece) { out << piece; });
  out << ".\n"
         "A record is shown when it passes every filter given.\n"
         "\n"
         "Exit status: 0 when the file was read to its end (a last record cut short by a crash\n"
         "is reported on stderr and left out); 1 when it cannot be read or is damaged; 2 for a\n"
         "wrong command line.\n";
}

int usage_error(std::ostream& err, const std::string& what) {
  err << "qmtrc_dump: " << what << "\n" << kUsage << "(qmtrc_dump --help explains)\n";
  return 2;
}

}  // namespace

int run_command(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  DumpOptions options;
  const char* path = nullptr;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      if (path) return usage_error(err, "more than one file");
      path = argv[i];
      continue;
    }
    if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      print_help(out);
      return out.flush() ? 0 : 1;
    } else if (arg == "--relative") {
      options.relative = true;
    } else if (arg == "--chrome") {
      options.output = DumpOptions::Output::chrome;
    } else {
      // The options with a value: "--level error" or "--level=error".
      std::string_view name = arg.substr(0, arg.find('='));
      std::string_view value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < argc) {
        value = argv[++i];
      } else {
        return usage_error(err, std::string(arg) + " needs a value");
      }
      auto& filter = options.filter;
      if (name == "--level") {
        if (!filter.set_levels(value))
          return usage_error(err, "--level " + std::string(value) + ": not levels (see --help)");
      } else if (name == "--thread") {
        if (!filter.set_threads(value))
          return usage_error(err, "--thread " + std::string(value) + ": not thread numbers");
      } else if (name == "--tracepoint") {
        filter.set_tracepoints(value);
      } else if (name == "--text") {
        filter.set_text(std::string(value));
      } else {
        return usage_error(err, "unknown option " + std::string(arg));
      }
    }
  }
  if (!path) return usage_error(err, "no trace file given");

  std::string error;
  bool ok = dump_file(path, options, out, error);
  if (!out.flush()) {
    err << "qmtrc_dump: cannot write the output\n";
    return 1;
  }
  if (!error.empty()) err << "qmtrc_dump: " << path << ": " << error << '\n';
  return ok ? 0 : 1;
}

}  // namespace qmtrc::dump
