// The manager scheduler: one run of the trap manager, from the start-up through the main loop,
// which sleeps until the stop is requested, to the stop sequence that drains the trap queue.
//
// Threads. Every one is a worker of a CWorkerThreads group and ends when its stop token asks it
// to; the stop sequence asks them in the reverse order of their start and waits for each before
// it asks the next, with no time-out. In the order of their start:
//
//   thread      started                     owns                           ends
//   run         Start (own group)           the run: start-up, main loop,  on the stop event (or
//                                           stop sequence, the workers     the scheduler's end),
//                                           below                          after the stop sequence
//   publishing  start-up, once listening    the last counters shown        at once: its wait of a
//                                                                          second is cut short
//   dispatch    start-up, before reading    the filter log writer and the  when the queue is empty
//                                           event-log batch of each run    once reading has ended:
//                                                                          it writes out the queue
//   Get pass    start-up, before reading    its filter log writer, the     before its next request
//                                           snmpget child that runs        (a running one ends by
//                                                                          itself and is reported)
//   receiving   start-up, last              the engine's receive rounds    its round is woken and
//                                           (reading, rendering, queueing) reads nothing more
//
// So the stop ends reading first; the Get pass makes no further request; dispatch writes out
// every text that was queued; publishing goes on until then, and the counters of the whole run
// are shown once more before the engine shuts down and 1101 is reported. The listeners are opened
// on a thread of their own that the start-up waits for at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "product/ManagerSettings.h"
#include "settings/EventLevels.h"
#include "settings/UsmEntry.h"
#include "traps/ListEvaluation.h"
#include "traps/SnmpApi.h"
#include "traps/TrapCounters.h"
#include "traps/WorkerThreads.h"

class CLogWriter;
namespace platform {
class EventLogWriter;
}

class CVormaSNMPManageScheduler {
  public:
    CVormaSNMPManageScheduler();
    // Ends the run's main loop if the stop event has not, and waits for the run thread, which has
    // ended or is about to once the stop callback was called.
    virtual ~CVormaSNMPManageScheduler();
    CVormaSNMPManageScheduler(const CVormaSNMPManageScheduler&) = delete;
    CVormaSNMPManageScheduler& operator=(const CVormaSNMPManageScheduler&) = delete;

    // Set by the service main before Start. Signalling the stop event requests the stop; the
    // scheduler lets go of it when its run ends. The stop callback is called from the run thread
    // when the run has ended (also after a failed start-up).
    std::shared_ptr<platform::Event> m_stopEvent;
    void (*m_stopCallback)() = nullptr;

    // Starts the run thread and returns at once.
    void Start();
    // The run: start-up, main loop, stop sequence, final steps. Always 0.
    long Run();

    // After the run: why it ended at its start-up, so that the main loop never ran (kNone after
    // a run that started, or one that a stop ended before it began).
    enum class StartUpFailure {
        kNone,
        kSettingsUnreadable,        // 6100: the agent list could not be had; 6101: no data folder
        kProductServerUnreachable,  // 6100: the product server was not reached
        kTrapPortForbidden,         // 6102 twice: the system does not let the manager bind the port
        kTrapPortUnavailable,       // 6102 twice: another program holds the port (or another cause)
    };
    StartUpFailure StartUpFailureOfRun() const { return m_startUpFailure; }
    bool EndedByStartUpFailure() const { return m_startUpFailure != StartUpFailure::kNone; }

    // True when UDP port 162 can be bound on IPv4 or IPv6, or the service manager passed a socket
    // of that family bound to it; reports 6102 for each family that has neither. When neither
    // family can be had, `failure` tells whether only the system's permission was missing.
    bool CheckTrapPorts(StartUpFailure* failure = nullptr);
    // Reports 6104 when the MIB report file cannot be read or holds a line with text.
    void CheckMibReport(const std::wstring& path);

    // One dispatch run: waits for a trap text (until `stop` is requested) and dispatches until
    // the queue is empty.
    void DispatchTraps(std::stop_token stop);

    // Body of the Get pass thread: one snmpget run per request of GetOIDList.txt, until `stop`.
    void RunGetPass(std::wstring installDir, std::wstring snmpDir, std::stop_token stop);

    // Handles one trap text: agent check, display name, lists, event log or filter log.
    // Reports the trap's event (and any other) through `events`, the dispatch run's writer.
    void DispatchTrapText(const std::wstring& trapText, CLogWriter& filterLog,
                          platform::EventLogWriter& events);

    // The settings read at start-up, for dispatch and the Get pass.
    const std::vector<std::wstring>& WhiteList() const { return m_whiteList; }
    const std::vector<std::wstring>& BlackList() const { return m_blackList; }
    const EventLevelList& LevelList() const { return m_levelList; }
    const std::wstring& FilterLogBasePath() const { return m_filterLogBasePath; }
    std::mutex& WriteMutex() { return m_writeMutex; }

  private:
    bool StartUp(const std::wstring& installDir, const std::wstring& snmpDir);
    void DeletePreviousMibReport(const std::wstring& path);
    // Tells on the console which listeners use sockets that the service manager passed.
    void ReportPassedListeners();
    void CreateUsmUsers(const std::wstring& snmpDir);
    void MainLoop();
    void StopSequence();
    // Body of the dispatch thread: dispatch runs one after the other; once `stop` is requested
    // (reading has ended by then), the last run writes out what is queued.
    void DispatchWorker(std::stop_token stop);
    // Body of the receiving thread: receive rounds until `stop` is requested.
    void ReceiveTraps(std::stop_token stop);
    // Counts a trap of an agent that no listening entry admits, by why: `found` when an entry
    // admitted the address and community but does not listen.
    void CountRejectedAgent(const std::wstring& address, const std::wstring& community, bool found);
    // For the stop, once reading has ended and the trap queue is written out: what the listening
    // sockets still hold goes into the counters and onto the console (the datagrams of a socket
    // that the service manager passed stay in it for the next run). Never throws.
    void CountUnreadAtStop();
    // Shows the counters when they changed since they were last shown, or `always`. Never throws.
    void PublishCounters(bool always);
    // Body of the publishing thread: the counters once a second while they change, until `stop`.
    void PublishWorker(std::stop_token stop);

    CTrapCounters m_counters;  // before the engine, which counts into it
    CSnmpApi m_snmpApi;
    CManagerSettings m_settings;
    std::vector<std::wstring> m_whiteList;
    std::vector<std::wstring> m_blackList;
    EventLevelList m_levelList;
    CCompiledLists m_compiledLists;  // the same lists compiled, for dispatch
    std::wstring m_filterLogBasePath;
    std::mutex m_writeMutex;  // shared by every filter-log writer

    // State of the run, kept on the run thread until the stop sequence.
    std::vector<UsmEntry> m_usmUsers;
    // The run's workers, in the order of their start (see the table above); the stop sequence
    // ends them.
    CWorkerThreads m_workers;
    bool m_publishing = false;  // the publishing thread was started: the stop shows the counters
    std::optional<TrapCountersSnapshot> m_publishedCounters;  // on the publishing thread
    bool m_engineReady = false;
    bool m_socketLibraryStarted = false;
    std::atomic<StartUpFailure> m_startUpFailure{StartUpFailure::kNone};
    // Set when the run thread's stop is requested: ends the main loop as the stop event does.
    platform::Event m_runStopRequested{platform::Event::Reset::kManual};
    // Last: it is stopped, and the run thread waited for, before any member above goes away.
    CWorkerThreads m_runThread;
};
