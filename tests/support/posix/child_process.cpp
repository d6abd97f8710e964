// The POSIX half of child_process.h: posix_spawn, and a wait with a time limit through a
// process file descriptor.

#include "support/child_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

int exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::filesystem::path self_path() {
  return std::filesystem::read_symlink("/proc/self/exe");
}

}  // namespace

child_process::child_process(std::string const& role, std::vector<std::string> const& args)
    : _process(0), _running(false) {
  std::string const self = self_path().string();
  std::vector<std::string> words{self, "--wygl-child", role};
  words.insert(words.end(), args.begin(), args.end());
  start(self, words, "");
}

child_process::child_process(program_start const& program) : _process(0), _running(false) {
  std::string const path = (self_path().parent_path() / program.name).string();
  std::vector<std::string> words{path};
  words.insert(words.end(), program.args.begin(), program.args.end());
  start(path, words, program.output_file);
}

void child_process::start(std::string const& program, std::vector<std::string> const& words,
                          std::string const& output_file) {
  std::vector<std::string> copies = words;
  std::vector<char*> argv;
  for (std::string& word : copies)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  pid_t pid = 0;
  int const error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + program);
  _process = pid;
  _running = true;
}

bool child_process::ask_to_stop() {
  if (_running) ::kill(static_cast<pid_t>(_process), SIGTERM);
  return true;
}

child_process::~child_process() {
  kill();
}

std::optional<int> child_process::wait_for_exit(std::chrono::milliseconds limit) {
  if (!_running) return std::nullopt;
  auto const pid = static_cast<pid_t>(_process);
  int const process_fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (process_fd < 0) throw std::runtime_error("cannot watch the helper process");
  auto const deadline = std::chrono::steady_clock::now() + limit;
  pollfd watch{process_fd, POLLIN, 0};
  int ready = 0;
  for (;;) {
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ready = poll(&watch, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready >= 0 || errno != EINTR) break;
  }
  close(process_fd);
  if (ready <= 0) return std::nullopt;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  _running = false;
  return exit_code_of(status);
}

void child_process::kill() {
  if (!_running) return;
  auto const pid = static_cast<pid_t>(_process);
  ::kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  _running = false;
}

std::uint32_t current_process_id() {
  return static_cast<std::uint32_t>(getpid());
}
