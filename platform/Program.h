// What a program's entry needs from the platform.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments as wide text, the program path first. POSIX: argv converted from the
// locale's encoding (call InitProcessLocale first); Windows: the process command line.
std::vector<std::wstring> ProgramArguments(int argc, char** argv);

// The exit status the platform can carry for a program result: the result itself on Windows, its
// low 8 bits on POSIX (0x800700B7 exits with 183).
int ExitStatus(unsigned long result);

// Writes wide text to the console's standard output (POSIX: in the locale's encoding).
void PrintToConsole(const std::wstring& text);

// The same on the console's standard error, for diagnostics of a run (under systemd: the journal).
void PrintErrorToConsole(const std::wstring& text);

}  // namespace platform
