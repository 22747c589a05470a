// Message texts with hostile parts: a pattern of the system message formatter with arguments of
// both kinds, the string resources and the message table filled with inserts that carry
// formatter syntax, and whole reports written to the event log (/dev/null here).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzInstallation.h"
#include "fuzz/FuzzText.h"
#include "platform/MessageFormat.h"
#include "reporter/EventLogReporter.h"
#include "settings/SettingLines.h"

namespace {

// String resources and events of the message table.
constexpr std::uint32_t kStringIds[] = {104, 105, 106, 107, 108, 109, 110, 114, 0, 111};
constexpr std::uint32_t kEventIds[] = {MSG_SERVICE_STARTED,
                                       MSG_TRAP_RECEIVED,
                                       MSG_GET_RESULT,
                                       MSG_INIT_FAILED,
                                       MSG_TRAP_PORT_ERROR,
                                       MSG_MIB_REPORT,
                                       MSG_MIB_REPORT_DELETE_FAILED,
                                       MSG_GET_FAILED,
                                       MSG_SETTINGS_ERROR,
                                       MSG_EVENT_LEVEL_ERROR,
                                       0x12345678u};

void Fail(const char* what) {
    std::fprintf(stderr, "message format fuzzer: %s\n", what);
    std::abort();
}

std::wstring TakeText(FuzzedDataProvider& input) {
    const auto decoding =
        input.ConsumeBool() ? fuzztext::Decoding::kUtf8 : fuzztext::Decoding::kCodePage932;
    return fuzztext::Decode(decoding, input.ConsumeRandomLengthString(512));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    static CFuzzInstallation installation(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::wstring pattern = TakeText(input);
    std::vector<platform::MessageArg> args;
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < count; ++i) {
        if (input.ConsumeBool()) {
            args.emplace_back(input.ConsumeIntegral<std::int64_t>());
        } else {
            args.emplace_back(TakeText(input));
        }
    }
    const std::wstring insert = TakeText(input);
    const std::int64_t number = input.ConsumeIntegral<std::int64_t>();
    const std::uint32_t stringId = input.PickValueInArray(kStringIds);
    const std::uint32_t eventId = input.PickValueInArray(kEventIds);

    platform::FormatMessageText(pattern, args);

    // An insert is text, never a pattern: what the resource's "%1!s!" gives is the insert as it
    // stands.
    const std::wstring settings = FormatResourceMessage(IDS_SETTINGS_READ_ERROR, {insert});
    if (settings.find(insert) == std::wstring::npos) {
        Fail("a text insert is not in the formatted message");
    }
    FormatResourceMessage(stringId, {insert});
    FormatResourceMessage(stringId, {insert, number, insert});
    FormatResourceMessage(stringId, {number});
    FormatLineMessage(pattern, insert);

    ReportToEventLog(eventId, kEventError, {insert, pattern});
    ReportSettingsReadError(insert);
    return 0;
}
