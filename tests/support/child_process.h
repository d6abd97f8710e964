// Tests that span processes: this test program started again as a helper process.
//
// A program that uses this has its main() from child_main.cpp. Started as
// "PROGRAM --wygl-child ROLE ARG...", it runs the role registered under ROLE with the ARGs and
// exits with the role's result, running no tests; otherwise it runs its tests as usual.
//
//   WYGL_CHILD_ROLE(post_signal) {  // args: the signal's name
//     qmgl_sync_sema_shared(args.at(0).c_str(), qmgl_action_open, qmgl_sync_sema::not_posted)
//         .post();
//     return 0;
//   }
//   ...
//   child_process child("post_signal", {name});
//   EXPECT_EQ(child.wait_for_exit(std::chrono::seconds(30)), 0);
//
// A role that must die holding something ends with std::_Exit, which runs no destructors.

#ifndef WYGL_TESTS_SUPPORT_CHILD_PROCESS_H
#define WYGL_TESTS_SUPPORT_CHILD_PROCESS_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using child_role_body = int (*)(std::vector<std::string> const& args);

// Registers a role; used through WYGL_CHILD_ROLE at namespace scope.
struct child_role {
  child_role(char const* name, child_role_body body);
};

#define WYGL_CHILD_ROLE(role)                                         \
  int role##_child_role(std::vector<std::string> const& args);        \
  child_role const role##_child_role_entry(#role, role##_child_role); \
  int role##_child_role(std::vector<std::string> const& args)

// Another program of the build, found in the folder of this test program: its name without
// the platform's ending for programs, its arguments, and a file that receives its standard
// output and error (none: they stay this program's).
struct program_start {
  std::string name;
  std::vector<std::string> args;
  std::string output_file;
};

// A running copy of this program in the given role, or another program of the build. The
// constructors throw std::runtime_error when the process cannot be started; the destructor
// kills it if it still runs.
class child_process {
 public:
  child_process(std::string const& role, std::vector<std::string> const& args);
  explicit child_process(program_start const& start);
  ~child_process();
  child_process(child_process const&) = delete;
  child_process& operator=(child_process const&) = delete;

  // Its exit code, once it has ended within limit; nothing if it still runs then. A process
  // ended by a POSIX signal gives 128 plus the signal's number.
  std::optional<int> wait_for_exit(std::chrono::milliseconds limit);

  // Ends it at once, if it still runs, and waits for its end.
  void kill();

  // Asks it to stop as the system asks a program to stop (SIGTERM), without waiting. False
  // where a test cannot ask so (on Windows a console control event would reach this program
  // too); nothing is sent then.
  bool ask_to_stop();

 private:
  // Starts program with the words as its arguments (words[0] is the program's name).
  void start(std::string const& program, std::vector<std::string> const& words,
             std::string const& output_file);

  std::intptr_t _process;  // the process id (POSIX) or the process handle (Windows)
  bool _running;
};

// This process's id.
std::uint32_t current_process_id();

// A name for a named object that no other test, run or process uses: the process id, a random
// part and what.
std::string unique_object_name(std::string const& what);

#endif  // WYGL_TESTS_SUPPORT_CHILD_PROCESS_H
