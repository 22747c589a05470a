// A settings file: its bytes read through the process locale (UTF-8, Japanese UTF-8 or
// Shift-JIS, chosen by the input) by the line reader, and by every reader of the manager's
// settings files: filter lists, event levels, SNMPv3 users and the GET list. Bad lines are
// reported to the event log (/dev/null here), as the manager reports them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <string>
#include <vector>

#include "fuzz/FuzzInstallation.h"
#include "fuzz/FuzzText.h"
#include "getpoll/GetOidList.h"
#include "platform/TextFile.h"
#include "settings/EventLevels.h"
#include "settings/FilterList.h"
#include "settings/SettingLines.h"
#include "settings/SnmpV3Settings.h"

namespace {

std::vector<std::locale>* g_locales = nullptr;
std::size_t g_current = static_cast<std::size_t>(-1);
std::wstring* g_file = nullptr;

void Fail(const char* what) {
    std::fprintf(stderr, "settings reader fuzzer: %s\n", what);
    std::abort();
}

void UseLocale(std::size_t index) {
    if (index != g_current) {
        std::locale::global((*g_locales)[index]);
        g_current = index;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(false);
    static std::vector<std::locale> locales;
    for (const char* name : {"C.UTF-8", "ja_JP.UTF-8", "ja_JP.SJIS"}) {
        try {
            locales.emplace_back(name);
        } catch (const std::exception&) {
            std::fprintf(stderr, "settings reader fuzzer: no locale %s on this machine\n", name);
        }
    }
    if (locales.empty()) {
        locales.push_back(std::locale::classic());
    }
    g_locales = &locales;
    static std::wstring file = platform::WidePath(installation.Root() / "Settings.txt");
    g_file = &file;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    UseLocale(data[0] % g_locales->size());
    {
        std::ofstream out(platform::NativePath(*g_file), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        if (!out.flush()) {
            Fail("the settings file cannot be written");
        }
    }

    const auto lines = platform::ReadTextFileLines(*g_file);
    if (!lines) {
        Fail("a file just written cannot be read");
    }
    const std::vector<std::wstring> settingLines = ReadSettingLines(*g_file, false);
    std::size_t nonEmpty = 0;
    for (const std::wstring& line : *lines) {
        nonEmpty += line.empty() ? 0 : 1;
    }
    if (settingLines.size() != nonEmpty) {
        Fail("the setting lines are not the non-empty lines of the file");
    }
    for (const std::wstring& pattern : LoadFilterList(*g_file)) {
        if (platform::Utf16Length(pattern) > kPatternLengthLimit) {
            Fail("a filter pattern beyond the limit is kept");
        }
    }
    LoadEventLevels(*g_file);
    LoadSnmpV3Settings(*g_file);
    LoadGetOidList(*g_file);
    return 0;
}
