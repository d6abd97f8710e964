// The Windows half of child_process.h: CreateProcess, WaitForSingleObject, TerminateProcess.

#include "support/child_process.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include <windows.h>

namespace {

constexpr int start_attempts = 3;

// One word of a command line, quoted as the runtime's argument parser reads it back.
std::string quoted(std::string const& word) {
  std::string text = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, '\\');
  return text + "\"";
}

HANDLE process_of(std::intptr_t process) {
  return reinterpret_cast<HANDLE>(process);
}

std::string self_path() {
  char self[MAX_PATH * 4];
  DWORD const length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length == sizeof self) throw std::runtime_error("cannot find this program");
  return std::string(self, length);
}

}  // namespace

child_process::child_process(std::string const& role, std::vector<std::string> const& args)
    : _process(0), _running(false) {
  std::string const self = self_path();
  std::vector<std::string> words{self, "--wygl-child", role};
  words.insert(words.end(), args.begin(), args.end());
  start(self, words, "");
}

child_process::child_process(program_start const& program) : _process(0), _running(false) {
  std::string const self = self_path();
  std::string const path = self.substr(0, self.find_last_of("\\/") + 1) + program.name + ".exe";
  std::vector<std::string> words{path};
  words.insert(words.end(), program.args.begin(), program.args.end());
  start(path, words, program.output_file);
}

void child_process::start(std::string const& program, std::vector<std::string> const& words,
                          std::string const& output_file) {
  std::string command;
  for (std::string const& word : words)
    command += (command.empty() ? "" : " ") + quoted(word);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!output_file.empty()) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    output = CreateFileA(output_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + output_file);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  PROCESS_INFORMATION started{};
  // Under Wine a start has been seen to fail once in a long run, right after other children
  // ended, and to succeed when repeated; a real fault fails every attempt and is reported
  // with its code.
  BOOL made = FALSE;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < start_attempts; ++attempt) {
    made = CreateProcessA(program.c_str(), command.data(), nullptr, nullptr,
                          output != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &startup, &started);
    if (made) break;
    start_error = GetLastError();
    std::fprintf(stderr, "child_process: CreateProcess of %s failed with error %lu\n",
                 program.c_str(), static_cast<unsigned long>(start_error));
  }
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!made)
    throw std::runtime_error("cannot start " + program + ": error " + std::to_string(start_error));
  CloseHandle(started.hThread);
  _process = reinterpret_cast<std::intptr_t>(started.hProcess);
  _running = true;
}

bool child_process::ask_to_stop() {
  return false;
}

child_process::~child_process() {
  kill();
}

std::optional<int> child_process::wait_for_exit(std::chrono::milliseconds limit) {
  if (!_running) return std::nullopt;
  if (WaitForSingleObject(process_of(_process), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_of(_process), &code);
  CloseHandle(process_of(_process));
  _running = false;
  return static_cast<int>(code);
}

void child_process::kill() {
  if (!_running) return;
  TerminateProcess(process_of(_process), 1);
  WaitForSingleObject(process_of(_process), INFINITE);
  CloseHandle(process_of(_process));
  _running = false;
}

std::uint32_t current_process_id() {
  return GetCurrentProcessId();
}
