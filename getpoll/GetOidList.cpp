#include "getpoll/GetOidList.h"

#include "settings/OptionLine.h"
#include "settings/SettingLines.h"

std::vector<GetOidEntry> LoadGetOidList(const std::wstring& path) {
    std::vector<GetOidEntry> entries;
    for (const std::wstring& line : ReadSettingLines(path, false)) {
        GetOidEntry entry;
        GetOidLineError error = ParseGetOidLine(SplitOptionLine(line), entry);
        if (error == GetOidLineError::kNone) {
            entries.push_back(std::move(entry));
        } else {
            // The event log has far more readers than the settings folder: no plain pass phrase
            // goes there.
            ReportSettingsReadError(
                FormatLineMessage(GetOidLineMessage(error), MaskPlainPassPhrases(line)));
        }
    }
    return entries;
}
