#include "settings/SnmpV3Settings.h"

#include "settings/OptionLine.h"
#include "settings/SettingLines.h"

namespace {

constexpr wchar_t kUsmEntryInvalid[] = L"SNMPv3認証情報指定が不正です。\r\n%s";

}  // namespace

std::vector<UsmEntry> LoadSnmpV3Settings(const std::wstring& path) {
    std::vector<UsmEntry> entries;
    for (const std::wstring& line : ReadSettingLines(path, false)) {
        UsmEntry entry;
        if (ValidateUsmEntry(SplitOptionLine(line), true, entry)) {
            entries.push_back(std::move(entry));
        } else {
            // The event log has far more readers than the settings folder: no plain pass phrase
            // goes there.
            ReportSettingsReadError(
                FormatLineMessage(kUsmEntryInvalid, MaskPlainPassPhrases(line)));
        }
    }
    return entries;
}
