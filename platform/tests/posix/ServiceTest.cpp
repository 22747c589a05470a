#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "platform/Event.h"
#include "platform/Registry.h"
#include "platform/Service.h"
#include "platform/Text.h"
#include "platform/Win32Error.h"
#include "tests/support/IsolatedChild.h"
#include "tests/support/TempSysRoot.h"

namespace {

using namespace std::chrono_literals;

std::wstring QueryString(platform::RegKey key, const wchar_t* name, std::uint32_t* type) {
    std::uint8_t buffer[1024];
    std::uint32_t size = sizeof buffer;
    if (platform::QueryRegistryValue(key, name, type, buffer, &size) != 0) {
        return L"<missing>";
    }
    std::wstring text = platform::Utf16LeToWide(buffer, size);
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

std::uint32_t QueryDword(platform::RegKey key, const wchar_t* name) {
    std::uint8_t buffer[4] = {};
    std::uint32_t size = 4;
    std::uint32_t type = 0;
    EXPECT_EQ(platform::QueryRegistryValue(key, name, &type, buffer, &size), 0u) << name;
    EXPECT_EQ(type, platform::kRegDword) << name;
    return buffer[0] | buffer[1] << 8 | buffer[2] << 16 |
           static_cast<std::uint32_t>(buffer[3]) << 24;
}

TEST(ServiceTest, CreateWritesTheServiceKeyOnceAndDeleteRemovesIt) {
    test::TempSysRoot root;
    platform::ServiceControlManager manager;
    ASSERT_EQ(platform::ServiceControlManager::Open(&manager), 0u);

    platform::ServiceHandle missing;
    EXPECT_EQ(manager.OpenService(L"TestService", &missing), platform::kErrorServiceDoesNotExist);

    platform::ServiceConfig config;
    config.name = L"TestService";
    config.displayName = L"TestService";
    config.binaryPath = L"\"/opt/vorma/bin/Test Program\" -x";
    platform::ServiceHandle service;
    ASSERT_EQ(manager.CreateService(config, &service), 0u);
    EXPECT_EQ(service.SetDescription(L"説明"), 0u);
    platform::ServiceHandle again;
    EXPECT_EQ(manager.CreateService(config, &again), platform::kErrorServiceExists);

    platform::RegKey key = 0;
    ASSERT_EQ(platform::OpenRegistryKey(platform::kHkeyLocalMachine,
                                        L"SYSTEM\\CurrentControlSet\\Services\\TestService",
                                        platform::kKeyRead, &key),
              0u);
    EXPECT_EQ(QueryDword(key, L"Type"), 0x10u);
    EXPECT_EQ(QueryDword(key, L"Start"), 2u);
    EXPECT_EQ(QueryDword(key, L"ErrorControl"), 0u);
    std::uint32_t type = 0;
    EXPECT_EQ(QueryString(key, L"ImagePath", &type), config.binaryPath);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(QueryString(key, L"DisplayName", &type), L"TestService");
    EXPECT_EQ(QueryString(key, L"ObjectName", &type), L"LocalSystem");
    EXPECT_EQ(QueryString(key, L"Description", &type), L"説明");
    platform::CloseRegistryKey(key);

    platform::ServiceHandle opened;
    ASSERT_EQ(manager.OpenService(L"testservice", &opened), 0u);  // names ignore case
    EXPECT_NE(opened.SendStop(), 0u);                             // nothing runs
    EXPECT_EQ(opened.Delete(), 0u);
    EXPECT_EQ(manager.OpenService(L"TestService", &missing), platform::kErrorServiceDoesNotExist);
}

// The service of the child process below: reports its states and stops on the stop control.
platform::Event* g_stop = nullptr;
// The handle is stored under the lock that the handler takes, as the manager's service main does:
// a control that waited for the handler runs on the dispatcher's thread as soon as the handler is
// registered, before the registration has returned the handle.
std::mutex g_statusMutex;
platform::ServiceStatusHandle g_status = 0;
std::atomic<std::uint32_t> g_lastControl{0};

std::uint32_t Handler(std::uint32_t control, std::uint32_t, void*, void*) {
    g_lastControl = control;
    if (control == platform::kServiceControlStop || control == platform::kServiceControlShutdown) {
        platform::ServiceStatus status;
        status.currentState = platform::kServiceStopPending;
        {
            std::lock_guard<std::mutex> lock(g_statusMutex);
            platform::ReportServiceStatus(g_status, status);
        }
        g_stop->Set();
    }
    return 0;
}

void TestServiceMain() {
    platform::ServiceStatusHandle handle;
    {
        std::lock_guard<std::mutex> lock(g_statusMutex);
        g_status = platform::RegisterServiceControlHandler(L"TestService", &Handler, nullptr);
        handle = g_status;
    }
    platform::ServiceStatus status;
    status.currentState = platform::kServiceRunning;
    status.controlsAccepted = 5;
    platform::ReportServiceStatus(handle, status);
    g_stop->Wait();
    status.currentState = platform::kServiceStopped;
    platform::ReportServiceStatus(handle, status);
}

nlohmann::json ReadStatus(const std::filesystem::path& root) {
    std::ifstream in(root / "services" / "TestService.json");
    return nlohmann::json::parse(in, nullptr, false);
}

TEST(ServiceTest, DispatcherTurnsSignalsIntoControlsAndWritesTheStatusFile) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPWR}) {
        test::TempSysRoot root;
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            platform::Event stop(platform::Event::Reset::kManual);
            g_stop = &stop;
            std::uint32_t rc = platform::RunServiceDispatcher(L"TestService", &TestServiceMain);
            std::uint32_t expected = signal == SIGPWR ? platform::kServiceControlShutdown
                                                      : platform::kServiceControlStop;
            _exit(rc == 0 && g_lastControl == expected ? 0 : 1);
        }
        nlohmann::json status;
        for (int i = 0; i < 500; ++i) {
            status = ReadStatus(root.path());
            if (status.is_object() && status["State"] == "RUNNING") {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(status.is_object());
        EXPECT_EQ(status["ServiceName"], "TestService");
        EXPECT_EQ(status["State"], "RUNNING");
        EXPECT_EQ(status["CurrentState"], 4);
        EXPECT_EQ(status["ControlsAccepted"], 5);
        EXPECT_EQ(status["ProcessId"], child);
        kill(child, signal);
        int wstatus = 0;
        ASSERT_EQ(waitpid(child, &wstatus, 0), child);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "signal " << signal;
        status = ReadStatus(root.path());
        EXPECT_EQ(status["State"], "STOPPED");
        EXPECT_EQ(status["CurrentState"], 1);
        std::ifstream history(root.path() / "services" / "TestService.history.jsonl");
        std::vector<std::string> states;
        for (std::string line; std::getline(history, line);) {
            states.push_back(nlohmann::json::parse(line)["State"]);
        }
        EXPECT_EQ(states, (std::vector<std::string>{"RUNNING", "STOP_PENDING", "STOPPED"}));
    }
}

// Whether the process has no signal pending any more: the dispatcher has taken it.
bool NoSignalPending(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("ShdPnd:", 0) == 0) {
            return line.find_first_not_of("0\t ", 7) == std::string::npos;
        }
    }
    return false;
}

int g_started[2];  // the service main writes to it when it runs
int g_proceed[2];  // the test writes to it when the service may register its handler

void LateRegisteringServiceMain() {
    char byte = 1;
    (void)!write(g_started[1], &byte, 1);
    (void)!read(g_proceed[0], &byte, 1);
    TestServiceMain();
}

// A stop that arrives while the service starts, before it has a handler, reaches the handler once
// it is registered: the service stops instead of running on.
TEST(ServiceTest, AStopBeforeTheHandlerIsRegisteredIsDeliveredToIt) {
    for (int signal : {SIGTERM, SIGPWR}) {
        test::TempSysRoot root;
        ASSERT_EQ(pipe(g_started), 0);
        ASSERT_EQ(pipe(g_proceed), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(30);  // a lost stop ends the child here
            platform::Event stop(platform::Event::Reset::kManual);
            g_stop = &stop;
            std::uint32_t rc =
                platform::RunServiceDispatcher(L"TestService", &LateRegisteringServiceMain);
            std::uint32_t expected = signal == SIGPWR ? platform::kServiceControlShutdown
                                                      : platform::kServiceControlStop;
            _exit(rc == 0 && g_lastControl == expected ? 0 : 1);
        }
        char byte = 0;
        ASSERT_EQ(read(g_started[0], &byte, 1), 1);
        kill(child, signal);
        for (int i = 0; i < 500 && !NoSignalPending(child); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(NoSignalPending(child));
        ASSERT_EQ(write(g_proceed[1], &byte, 1), 1);
        int wstatus = 0;
        ASSERT_EQ(waitpid(child, &wstatus, 0), child);
        EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0)
            << "signal " << signal << ", wait status " << wstatus;
        EXPECT_EQ(ReadStatus(root.path())["State"], "STOPPED");
        for (int fd : {g_started[0], g_started[1], g_proceed[0], g_proceed[1]}) {
            close(fd);
        }
    }
}

// A service run by the dispatcher in a child process; the child exits 0 when the dispatcher ended
// after the stop control.
pid_t StartTestService() {
    pid_t child = fork();
    if (child == 0) {
        alarm(30);
        platform::Event stop(platform::Event::Reset::kManual);
        g_stop = &stop;
        std::uint32_t rc = platform::RunServiceDispatcher(L"TestService", &TestServiceMain);
        _exit(rc == 0 && g_lastControl == platform::kServiceControlStop ? 0 : 1);
    }
    return child;
}

bool WaitForRunning(const std::filesystem::path& root, pid_t child) {
    for (int i = 0; i < 500; ++i) {
        nlohmann::json status = ReadStatus(root);
        if (status.is_object() && status["State"] == "RUNNING" && status["ProcessId"] == child) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// SIGUSR1 and SIGUSR2 ask nothing of the service: taken and ignored, they neither end the process
// nor stop the service.
TEST(ServiceTest, UserSignalsAreTakenAndIgnored) {
    test::TempSysRoot root;
    pid_t child = StartTestService();
    ASSERT_GE(child, 0);
    ASSERT_TRUE(WaitForRunning(root.path(), child));
    kill(child, SIGUSR1);
    kill(child, SIGUSR2);
    for (int i = 0; i < 500 && !NoSignalPending(child); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(NoSignalPending(child));
    int wstatus = 0;
    EXPECT_EQ(waitpid(child, &wstatus, WNOHANG), 0);  // still running
    EXPECT_EQ(ReadStatus(root.path())["State"], "RUNNING");
    kill(child, SIGTERM);
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
}

// The stop control goes to the process that runs the service, found by its run lock, and never to
// a process that a stale status file names.
TEST(ServiceTest, SendStopSignalsOnlyTheProcessThatRunsTheService) {
    test::TempSysRoot root;
    platform::ServiceControlManager manager;
    ASSERT_EQ(platform::ServiceControlManager::Open(&manager), 0u);
    platform::ServiceConfig config;
    config.name = L"TestService";
    platform::ServiceHandle service;
    ASSERT_EQ(manager.CreateService(config, &service), 0u);

    // A stale status file naming a live process that does not run the service: the number itself,
    // and the number plus 2^32, which must not be cut down to it.
    pid_t bystander = fork();
    ASSERT_GE(bystander, 0);
    if (bystander == 0) {
        pause();
        _exit(0);
    }
    for (std::int64_t number : {std::int64_t{bystander}, (std::int64_t{1} << 32) + bystander}) {
        std::filesystem::create_directories(root.path() / "services");
        std::ofstream(root.path() / "services" / "TestService.json")
            << nlohmann::json{{"State", "RUNNING"}, {"CurrentState", 4}, {"ProcessId", number}};
        EXPECT_EQ(service.SendStop(), 1062u) << number;  // ERROR_SERVICE_NOT_ACTIVE
    }
    std::this_thread::sleep_for(50ms);
    int wstatus = 0;
    EXPECT_EQ(waitpid(bystander, &wstatus, WNOHANG), 0) << "the bystander was signalled";
    kill(bystander, SIGKILL);
    waitpid(bystander, &wstatus, 0);

    pid_t child = StartTestService();
    ASSERT_GE(child, 0);
    ASSERT_TRUE(WaitForRunning(root.path(), child));
    platform::ServiceHandle opened;
    ASSERT_EQ(manager.OpenService(L"testservice", &opened), 0u);  // names ignore case
    EXPECT_EQ(opened.SendStop(), 0u);
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    EXPECT_EQ(ReadStatus(root.path())["State"], "STOPPED");
    // It ran: the lock went with it.
    EXPECT_EQ(opened.SendStop(), 1062u);
}

TEST(ServiceTest, StatusReportsNeedARegisteredHandler) {
    test::TempSysRoot root;
    EXPECT_EQ(platform::RegisterServiceControlHandler(L"TestService", &Handler, nullptr), 0u);
    EXPECT_FALSE(platform::ReportServiceStatus(0, platform::ServiceStatus{}));
}

// The metrics file goes to the folder of the registry's MetricsDirectory, or below the system
// root; without a status report there is no status file to rewrite. Each case runs in a process
// of its own, as a process looks the folder up once.
TEST(ServiceTest, CountersGoToTheMetricsFolderTheRegistryNames) {
    struct Case {
        const char* name;
        std::uint32_t type;  // kRegNone: no value
        const char* folder;  // below the system root
    };
    const Case cases[] = {
        {"no value: the default", platform::kRegNone, "metrics"},
        {"a string", platform::kRegSz, "collector/textfiles"},
        {"an expandable string", platform::kRegExpandSz, "other"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::ChildResult child = test::RunIsolated(false, [&] {
            test::TempSysRoot root;
            const std::filesystem::path folder = root.path() / c.folder;
            if (c.type != platform::kRegNone) {
                platform::RegKey key = 0;
                bool created = false;
                platform::CreateRegistryKey(platform::kHkeyLocalMachine,
                                            L"SYSTEM\\CurrentControlSet\\Services\\TestService\\"
                                            L"Parameters",
                                            platform::kKeyAllAccess, &key, &created);
                const std::vector<std::uint8_t> value =
                    platform::WideToUtf16Le(platform::Utf8ToWide(folder.string()) + L'\0');
                platform::SetRegistryValue(key, platform::kMetricsDirectoryValue, c.type,
                                           value.data(), static_cast<std::uint32_t>(value.size()));
                platform::CloseRegistryKey(key);
            }
            nlohmann::json out;
            out["published"] =
                platform::PublishServiceCounters(L"TestService", R"({"A":1})", "vorma_a_total 1\n");
            std::ifstream in(folder / "TestService.prom");
            out["metrics"] =
                std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            out["statusFile"] =
                std::filesystem::exists(root.path() / "services" / "TestService.json");
            out["entries"] = std::distance(std::filesystem::directory_iterator(folder),
                                           std::filesystem::directory_iterator());
            return out.dump();
        });
        ASSERT_TRUE(child.completed) << child.output;
        const nlohmann::json out = nlohmann::json::parse(child.output);
        EXPECT_TRUE(out["published"]);
        EXPECT_EQ(out["metrics"], "vorma_a_total 1\n");
        EXPECT_FALSE(out["statusFile"]);
        EXPECT_EQ(out["entries"], 1) << "nothing left beside the file";
    }
}

}  // namespace
