#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <shellapi.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/system.h"
#include "platform/wide_win32.h"

namespace quorvel {

unsigned logical_processor_count() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors;
}

// No signal ends a Windows process for a failed write: the write reports the error.
void ignore_write_signals() {}

void use_binary_standard_streams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(from_wide(wide[i]));
  LocalFree(wide);
  return arguments;
}

// The heap returns large blocks to the system on its own.
void return_large_blocks_to_system() {}

std::optional<uint64_t> available_memory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
  return status.ullAvailPhys;
}

std::vector<std::string> loaded_libraries() {
  std::vector<HMODULE> modules(256);
  DWORD needed = 0;
  HANDLE process = GetCurrentProcess();
  while (EnumProcessModules(process, modules.data(),
                            static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed) &&
         needed > modules.size() * sizeof(HMODULE)) {
    modules.resize(needed / sizeof(HMODULE));
  }
  modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
  std::vector<std::string> paths;
  for (HMODULE module : modules) {
    wchar_t name[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(module, name, static_cast<DWORD>(std::size(name)));
    if (length > 0 && length < std::size(name)) paths.push_back(from_wide({name, length}));
  }
  return paths;
}

bool stderr_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {

// Console control events arrive on a thread of their own, which hands them to the thread
// waiting in wait_stop_signal; the console's state is the process's, as a signal mask is.
struct StopEvents {
  HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // one wait per event
  volatile LONG signal = 0;
};

StopEvents& stop_events() {
  static StopEvents events;
  return events;
}

BOOL WINAPI on_console_event(DWORD type) {
  StopEvents& events = stop_events();
  InterlockedExchange(&events.signal, type == CTRL_C_EVENT ? SIGINT : SIGTERM);
  SetEvent(events.arrived);
  // Closing the console ends the process as soon as this returns: let the waiting thread
  // finish the stop first; it ends the process itself.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void block_stop_signals() {
  stop_events();
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int wait_stop_signal() {
  StopEvents& events = stop_events();
  WaitForSingleObject(events.arrived, INFINITE);
  return static_cast<int>(events.signal);
}

void die_of_signal(int) {
  // What a console process ended by Ctrl+C reports to its parent.
  std::fflush(stdout);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace quorvel
