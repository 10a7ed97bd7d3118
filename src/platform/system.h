#pragma once
// Facts about the machine.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

/// The number of logical processors online, or 0 when the system cannot tell.
unsigned logical_processor_count();

/// Makes failed writes come back as errors rather than signals that end the process: a
/// client that closed its end of standard output (SIGPIPE), and a file-size limit reached
/// while writing a translated file (SIGXFSZ).
void ignore_write_signals();

/// Makes standard input, output and error carry bytes unchanged: no line feed turned into
/// CR LF, no stop at a Ctrl+Z (Windows text mode); nothing to do elsewhere.
void use_binary_standard_streams();

/// Makes large blocks (a tool call's model context, a document's text) go back to the system
/// as soon as they are freed. glibc otherwise raises its threshold for that to the largest
/// block freed so far and serves later ones from a heap that fragments, so a long-running
/// server would grow with every translation. Up to 1 MiB of freed small blocks stays at the
/// top of each heap, for work that takes and frees that much on every call.
void return_large_blocks_to_system();

/// The program's arguments as UTF-8, argv[0] first. Windows hands `main` its arguments in the
/// ANSI code page, where file names outside it are lost, so they are read again as UTF-16.
std::vector<std::string> command_line_arguments(int argc, char** argv);

/// The memory the system could give a new program now (MemAvailable), in bytes.
std::optional<uint64_t> available_memory();

/// The paths of the shared libraries mapped into this process.
std::vector<std::string> loaded_libraries();

/// Whether standard error is a terminal (a progress bar may redraw itself there).
bool stderr_is_terminal();

/// Blocks SIGINT and SIGTERM in the calling thread and in every thread it starts later, so
/// that one thread can take them with wait_stop_signal instead of a handler interrupting
/// whatever runs.
void block_stop_signals();

/// Waits for SIGINT or SIGTERM and returns its number.
int wait_stop_signal();

/// Ends the process as the signal's default action does, so the parent sees which it was.
[[noreturn]] void die_of_signal(int signal);

}  // namespace quorvel
