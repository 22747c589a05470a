// The Get pass: one run of snmpget for every request of GetOIDList.txt, made once at every start
// of the service on a thread of its own, beside trap reception.
//
// Each answer becomes a text shaped like a trap text with one variable binding, a header line
// (agent, community or SNMPv3 user name, V1/V2c/V3, separated by a TAB and two blanks) and the
// decorated value line, and goes through the same white, black and level lists as traps: to the
// event log as event 2001, or to the filter log when the lists hold it back. A request that fails
// is reported as event 6106 with the failure text of the run. The stop request is looked at
// before each request; a request that has started is always finished.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "getpoll/GetOidEntry.h"

class CLogWriter;

class CGetCycle {
  public:
    // True once the service is stopping.
    using StopPredicate = std::function<bool()>;
    // "name = value" (code page 932) with the numeric forms of the MIB tree added, or empty text
    // when the line has no "=". The MIB tree belongs to Net-SNMP, whose calls must not run on two
    // threads at once: beside a running SNMP engine pass the engine's CSnmpApi::DecorateLine,
    // which takes its library lock.
    using LineDecorator = std::function<std::string(std::string_view)>;

    // The white, black and level lists of the trap dispatch, which every result text goes
    // through as a trap text does. Both are called on the pass's thread and must only read.
    struct ResultLists {
        // True when the lists hold the text back (to the filter log).
        std::function<bool(const std::wstring& text)> isExcluded;
        // The event type of a text that goes to the event log.
        std::function<std::uint16_t(const std::wstring& text)> eventTypeOf;
    };

    // Told of each request's outcome: true when it was answered, false when it failed.
    using ResultObserver = std::function<void(bool answered)>;

    // The write mutex must outlive the object.
    CGetCycle(std::wstring installDir, std::wstring snmpDir, ResultLists lists,
              std::wstring filterLogBasePath, std::mutex& writeMutex, StopPredicate isStopping,
              LineDecorator decorateLine, ResultObserver onResult = {});

    // One pass: loads <SNMP data folder>/Config/GetOIDList.txt and handles its requests in file
    // order until they are done or a stop is requested. Never throws.
    void Run();

    // The result text of a successful request: the header line, LF, the separator, the value
    // text of the tool's output and LF.
    static std::wstring BuildResultText(const GetOidEntry& entry, const std::wstring& toolOutput,
                                        const LineDecorator& decorateLine);

    // The value line of the tool's output ("MODULE::name.index = TYPE: value" and its line end):
    // the name shortened, a hexadecimal dump joined into one line, the numeric forms added. The
    // tool's line end is kept at the end of the line.
    static std::wstring BuildValueText(const std::wstring& toolOutput,
                                       const LineDecorator& decorateLine);

  private:
    void HandleEntry(const GetOidEntry& entry, CLogWriter& filterLog) const;

    std::wstring m_installDir;
    std::wstring m_snmpDir;
    ResultLists m_lists;
    std::wstring m_filterLogBasePath;
    std::mutex& m_writeMutex;
    StopPredicate m_isStopping;
    LineDecorator m_decorateLine;
    ResultObserver m_onResult;
};
