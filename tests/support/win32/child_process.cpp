// The Windows half of child_process.h: CreateProcess, WaitForSingleObject, TerminateProcess.

#include "support/child_process.h"

#include <stdexcept>

#include "support/win32/windows_headers.h"

namespace {

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

}  // namespace

child_process::child_process(std::string const& role, std::vector<std::string> const& args)
    : _process(0), _running(false) {
  char self[MAX_PATH * 4];
  DWORD const length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length == sizeof self) throw std::runtime_error("cannot find this program");
  std::string command = quoted(self) + " --wygl-child " + quoted(role);
  for (std::string const& arg : args)
    command += " " + quoted(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    throw std::runtime_error("cannot start " + std::string(self));
  CloseHandle(started.hThread);
  _process = reinterpret_cast<std::intptr_t>(started.hProcess);
  _running = true;
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
