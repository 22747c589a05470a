// The manager scheduler: one run of the trap manager, from the start-up through the main loop
// that keeps one dispatch run going, to the stop sequence that drains the trap queue. A thread of
// its own receives (the engine's receive rounds, which render and queue), so that reading the
// sockets and dispatching go on side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "product/ManagerSettings.h"
#include "settings/EventLevels.h"
#include "settings/UsmEntry.h"
#include "traps/ListEvaluation.h"
#include "traps/SnmpApi.h"
#include "traps/TrapCounters.h"

class CLogWriter;
namespace platform {
class EventLogWriter;
}

class CVormaSNMPManageScheduler {
  public:
    CVormaSNMPManageScheduler();
    // Waits for the run thread, which has ended or is about to once the stop callback was called.
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

    void SetStopping(int value);
    int IsStopping();

    // True when UDP port 162 can be bound on IPv4 or IPv6, or the service manager passed a socket
    // of that family bound to it; reports 6102 for each family that has neither. When neither
    // family can be had, `failure` tells whether only the system's permission was missing.
    bool CheckTrapPorts(StartUpFailure* failure = nullptr);
    // Reports 6104 when the MIB report file cannot be read or holds a line with text.
    void CheckMibReport(const std::wstring& path);

    // Body of a dispatch run: waits for a trap text (while not stopping) and dispatches until the
    // queue is empty, then resets `running`.
    void DispatchTraps(platform::Event& running);

    // Body of the Get pass thread: one snmpget run per request of GetOIDList.txt.
    void RunGetPass(std::wstring installDir, std::wstring snmpDir);

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
    void StartDispatchThread();
    void DispatchWorker();
    // Body of the receiving thread: receive rounds until the stopping flag is set.
    void ReceiveTraps();
    // Counts a trap of an agent that no listening entry admits, by why: `found` when an entry
    // admitted the address and community but does not listen.
    void CountRejectedAgent(const std::wstring& address, const std::wstring& community, bool found);
    // For the stop, once reading has ended and the trap queue is written out: what the listening
    // sockets still hold goes into the counters and onto the console (the datagrams of a socket
    // that the service manager passed stay in it for the next run). Never throws.
    void CountUnreadAtStop();
    // Shows the counters when they changed since they were last shown, or `always`. Never throws.
    void PublishCounters(bool always);
    void PublishWorker();

    std::thread m_runThread;
    CTrapCounters m_counters;  // before the engine, which counts into it
    CSnmpApi m_snmpApi;
    CManagerSettings m_settings;
    std::vector<std::wstring> m_whiteList;
    std::vector<std::wstring> m_blackList;
    EventLevelList m_levelList;
    CCompiledLists m_compiledLists;  // the same lists compiled, for dispatch
    std::mutex m_stopMutex;
    std::wstring m_filterLogBasePath;
    std::mutex m_writeMutex;  // shared by every filter-log writer
    int m_stopping = 0;

    // State of the run, kept on the run thread until the stop sequence.
    std::vector<UsmEntry> m_usmUsers;
    platform::Event m_dispatchRunning{platform::Event::Reset::kManual};
    // Signalled when a dispatch run has ended (and at first, so that the first one starts): the
    // main loop sleeps on it and on the stop event.
    platform::Event m_dispatchEnded{platform::Event::Reset::kAuto, true};
    // The dispatch thread is started once and then kept: each start of a dispatch run after the
    // first is a wake-up of that thread, not the creation of a new one.
    platform::Event m_dispatchRequest{platform::Event::Reset::kAuto};
    std::atomic<bool> m_dispatchQuit{false};
    std::thread m_dispatchThread;
    std::thread m_receiveThread;
    std::thread m_getPassThread;
    std::thread m_publishThread;
    platform::Event m_publishQuit{platform::Event::Reset::kManual};
    std::optional<TrapCountersSnapshot> m_publishedCounters;  // on the publishing thread
    bool m_engineReady = false;
    bool m_socketLibraryStarted = false;
    std::atomic<StartUpFailure> m_startUpFailure{StartUpFailure::kNone};
};
