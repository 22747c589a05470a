#include "platform/Resources.h"

#include <clocale>
#include <cstring>

#include "platform/posix/ResourceTables.h"

namespace platform {

std::wstring LoadStringResource(std::uint32_t id) {
    for (std::size_t i = 0; i < resources::kStringCount; ++i) {
        if (resources::kStrings[i].id == id) {
            return resources::kStrings[i].text;
        }
    }
    return {};
}

std::optional<std::wstring> LoadMessageResource(std::uint32_t id, std::uint16_t language) {
    for (std::size_t i = 0; i < resources::kMessageCount; ++i) {
        const resources::MessageEntry& entry = resources::kMessages[i];
        if (entry.id == id) {
            return std::wstring(language == kLangJapanese ? entry.japanese : entry.english);
        }
    }
    return std::nullopt;
}

std::uint16_t ProcessMessageLanguage() {
    // setlocale(..., nullptr) only reads the current setting.
    const char* name = std::setlocale(LC_MESSAGES, nullptr);
    if (name != nullptr && std::strncmp(name, "ja", 2) == 0) {
        return kLangJapanese;
    }
    return kLangEnglish;
}

}  // namespace platform
