#include "getpoll/GetCycle.h"

#include <algorithm>
#include <utility>

#include "common/LogWriter.h"
#include "common/ObjectName.h"
#include "common/TrapText.h"
#include "getpoll/GetOidList.h"
#include "getpoll/Snmpget.h"
#include "platform/Path.h"
#include "platform/Text.h"
#include "reporter/EventLogReporter.h"

namespace {

using traptext::kWideSeparator;

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

CGetCycle::CGetCycle(std::wstring installDir, std::wstring snmpDir, ResultLists lists,
                     std::wstring filterLogBasePath, std::mutex& writeMutex,
                     StopPredicate isStopping, LineDecorator decorateLine, ResultObserver onResult)
    : m_installDir(std::move(installDir)),
      m_snmpDir(std::move(snmpDir)),
      m_lists(std::move(lists)),
      m_filterLogBasePath(std::move(filterLogBasePath)),
      m_writeMutex(writeMutex),
      m_isStopping(std::move(isStopping)),
      m_decorateLine(std::move(decorateLine)),
      m_onResult(std::move(onResult)) {}

void CGetCycle::Run() {
    try {
        CLogWriter filterLog(m_filterLogBasePath, m_writeMutex, CLogWriter::kFilterLogFilesKept);
        const std::vector<GetOidEntry> entries = LoadGetOidList(
            platform::AppendPath(m_snmpDir, platform::NativeRelativePath(kGetOidListFile)));
        for (const GetOidEntry& entry : entries) {
            if (m_isStopping && m_isStopping()) {
                break;
            }
            HandleEntry(entry, filterLog);
        }
    } catch (...) {
        // Only memory exhaustion gets here; the pass ends and the service goes on.
    }
}

void CGetCycle::HandleEntry(const GetOidEntry& entry, CLogWriter& filterLog) const {
    std::wstring output;
    const bool answered = RunSnmpget(m_installDir, BuildSnmpgetArguments(entry), output);
    if (m_onResult) {
        m_onResult(answered);
    }
    if (!answered) {
        ReportToEventLog(MSG_GET_FAILED, kEventError, {output});
        return;
    }
    const std::wstring text = BuildResultText(entry, output, m_decorateLine);
    if (m_lists.isExcluded(text)) {
        if (!filterLog.WriteFormat(L"%s", text)) {
            ReportToEventLog(
                MSG_SETTINGS_ERROR, kEventError,
                {FormatResourceMessage(IDS_FILTER_LOG_ERROR, {filterLog.GetLastErrorText()})});
        }
        return;
    }
    ReportToEventLog(MSG_GET_RESULT, m_lists.eventTypeOf(text), {text});
}

std::wstring CGetCycle::BuildResultText(const GetOidEntry& entry, const std::wstring& toolOutput,
                                        const LineDecorator& decorateLine) {
    std::wstring text = traptext::HeaderLine(
        entry.agent, entry.version == L"3" ? entry.usm.userName : entry.community,
        L"V" + entry.version);
    text += L'\n';
    text += kWideSeparator;
    text += BuildValueText(toolOutput, decorateLine);
    text += L'\n';
    return text;
}

std::wstring CGetCycle::BuildValueText(const std::wstring& toolOutput,
                                       const LineDecorator& decorateLine) {
    const std::string output = platform::WideToCodePage(platform::kCodePage932, toolOutput);

    // The name part before the first "=" is shortened; the rest keeps the "=".
    const std::size_t equals = output.find('=');
    std::string line = ShortenObjectName(output.substr(0, equals)) + " " +
                       (equals == std::string::npos ? std::string() : output.substr(equals));

    if (line.find("Hex-") != std::string::npos) {
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; },
            ' ');
    }

    // The tool's line end stays at the end of the line, after the decoration, so that an OID
    // value is parsed without it and its numeric form stays on the value's line.
    std::size_t bodyLength = line.size();
    while (bodyLength > 0 && IsLineEnd(line[bodyLength - 1])) {
        --bodyLength;
    }
    std::string decorated = decorateLine(std::string_view(line).substr(0, bodyLength));
    if (!decorated.empty()) {
        line = decorated + line.substr(bodyLength);
    }
    return platform::CodePageToWide(platform::kCodePage932, line);
}
