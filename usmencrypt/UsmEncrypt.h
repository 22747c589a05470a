// The settings encryption tool VormaSnmpUsmEncrypt: rewrites GetOIDList.txt and then
// SnmpV3Setting.txt of the SNMP settings folder so that every pass phrase in them is stored
// enciphered (plain AP and XP options become enciphered A and X options; enciphered ones are
// deciphered and enciphered again). It takes no arguments, tells everything on the console and
// reports the outcome by its exit code. One instance at a time, by a machine-wide mutex.
#pragma once

#include <string>

// The tool's exit codes.
enum UsmEncryptExitCode : int {
    kUsmEncryptSucceeded = 0,       // both files handled
    kUsmEncryptAlreadyRunning = 1,  // another instance runs, or the mutex is unavailable
    kUsmEncryptNotInstalled = 100,  // no installation folder in the registry
    kUsmEncryptGetOidListFailed = 101,
    kUsmEncryptSnmpV3SettingsFailed = 102,
};

// The name of the tool's single-instance mutex.
inline constexpr wchar_t kUsmEncryptMutexName[] =
    L"Global\\MUTEX_QUILLON_VORMA6_VORMA_SNMP_USM_ENCRYPT";

class CUsmEncrypt {
  public:
    // The whole run: the single-instance mutex, the installation folder, then both files. The
    // process's locale must be set up before (platform::InitProcessLocale).
    int Run();

    // Converts one file. A file without accepted lines (missing, empty, or every line rejected)
    // is left untouched and gets no backup. False when the conversion failed; the file is then as
    // it was.
    static bool ConvertGetOidList(const std::wstring& path);
    static bool ConvertSnmpV3Settings(const std::wstring& path);

  private:
    int ConvertFiles();
};
