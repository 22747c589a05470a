// Paths as the system names them. The system's relative folders are written with backslashes
// ("Common\snmp"); on POSIX the native separator is "/" and executables have no ".exe".
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The native path separator.
wchar_t PathSeparator();

// `relative` with its backslashes turned into the native separator.
std::wstring NativeRelativePath(std::wstring_view relative);

// The name of an executable: "snmpget" gives "snmpget.exe" on Windows and "snmpget" on POSIX.
std::wstring ExecutableFileName(std::wstring_view baseName);

// PathAppendW: `base` and `more` joined with exactly one separator between them (none doubled,
// none added when either part is empty). Either separator is accepted in the inputs on Windows;
// on POSIX only "/" is one.
std::wstring AppendPath(std::wstring_view base, std::wstring_view more);

// Full path of the running program, or empty text when it cannot be found.
std::wstring ModuleFilePath();

}  // namespace platform
