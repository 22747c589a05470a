#include "platform/posix/JournalRecord.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLog.h"
#include "platform/EventLogWriter.h"
#include "platform/Text.h"
#include "tests/support/IsolatedChild.h"
#include "tests/support/TempSysRoot.h"

namespace {

using Json = nlohmann::json;
using platform::EventField;
using platform::posix::JournalRecord;

std::map<std::string, std::string> FieldMap(const std::vector<std::string>& fields) {
    std::map<std::string, std::string> map;
    for (const std::string& field : fields) {
        const std::size_t equals = field.find('=');
        map[field.substr(0, equals)] = field.substr(equals + 1);
    }
    return map;
}

TEST(JournalRecordTest, FieldsOfAnEvent) {
    const JournalRecord record("VORMASNMPManagerService", 2, 7, 0x40000000u | 2000u,
                               {"first\ttext", ""},
                               {{"AGENT_ADDRESS", L"192.0.2.1"},
                                {"AGENT_NAME", L"ルータ 1"},
                                {"lower", L"x"},
                                {"9LEADING_DIGIT", L"x"},
                                {"", L"x"},
                                {"HAS-DASH", L"x"},
                                {std::string(58, 'A'), L"longest"},
                                {std::string(59, 'B'), L"too long"}},
                               "line 1\r\nline 2\r\n");
    const std::vector<std::string> expected = {
        "MESSAGE=line 1\nline 2",
        "PRIORITY=4",
        "SYSLOG_FACILITY=3",
        "SYSLOG_IDENTIFIER=VORMASNMPManagerService",
        "VORMA_EVENT_ID=2000",
        "VORMA_EVENT_TYPE=2",
        "VORMA_CATEGORY=7",
        "VORMA_SOURCE=VORMASNMPManagerService",
        "VORMA_STRING_1=first\ttext",
        "VORMA_STRING_2=",
        "VORMA_AGENT_ADDRESS=192.0.2.1",
        "VORMA_AGENT_NAME=ルータ 1",
        "VORMA_" + std::string(58, 'A') + "=longest",
    };
    EXPECT_EQ(record.Fields(), expected);
}

TEST(JournalRecordTest, MessageLineEndsAndPriorities) {
    struct Case {
        std::string message;
        std::uint16_t type;
        std::string expectedMessage;
        std::string expectedPriority;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", platform::kEventTypeError, "a\nb", "3"},
        {"a\rb\nc", platform::kEventTypeWarning, "a\nb\nc", "4"},
        {"one line", platform::kEventTypeInformation, "one line", "6"},
        {"trailing\r\n\r\n\n", platform::kEventTypeSuccess, "trailing", "6"},
        {"", 16, "", "6"},
        {"\r\n\tindented\r\n", 8, "\n\tindented", "6"},
    };
    for (const Case& c : cases) {
        const auto fields = FieldMap(JournalRecord("S", c.type, 0, 1, {}, {}, c.message).Fields());
        EXPECT_EQ(fields.at("MESSAGE"), c.expectedMessage) << Json(c.message).dump();
        EXPECT_EQ(fields.at("PRIORITY"), c.expectedPriority) << c.type;
    }
}

// Reads the records that a process sends to the journal's native socket: the child of the test
// makes a private /run with a socket where the journal's is, reports events, and hands back
// what arrived, each datagram decoded ("NAME=value\n", or "NAME\n", a 64-bit little-endian
// length and the value for a value with line feeds).
Json DecodeDatagram(const std::string& datagram) {
    Json record = Json::object();
    std::size_t at = 0;
    while (at < datagram.size()) {
        const std::size_t end = datagram.find('\n', at);
        if (end == std::string::npos) {
            record["?"] = datagram.substr(at);
            break;
        }
        const std::string line = datagram.substr(at, end - at);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            record[line.substr(0, equals)] = line.substr(equals + 1);
            at = end + 1;
            continue;
        }
        std::uint64_t length = 0;
        for (int i = 7; i >= 0; --i) {
            length = (length << 8) | static_cast<unsigned char>(datagram[end + 1 + i]);
        }
        record[line] = datagram.substr(end + 9, length);
        at = end + 9 + length + 1;
    }
    return record;
}

struct JournalCapture {
    std::string skip;   // why the test cannot run here
    std::string error;  // what failed
    int fd = -1;
};

JournalCapture ListenWhereTheJournalIs() {
    JournalCapture capture;
    if (::unshare(CLONE_NEWNS) != 0) {
        capture.skip = std::string("no private mount namespace (unshare: ") + std::strerror(errno) +
                       "); this test needs root";
        return capture;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/run", "tmpfs", 0, "size=16m") != 0) {
        capture.error = std::string("private /run: ") + std::strerror(errno);
        return capture;
    }
    std::filesystem::create_directories("/run/systemd/journal");
    capture.fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    const int receiveBuffer = 8 * 1024 * 1024;
    ::setsockopt(capture.fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBuffer, sizeof receiveBuffer);
    if (::bind(capture.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        capture.error = std::string("bind: ") + std::strerror(errno);
    }
    JournalRecord::LookAgain();
    return capture;
}

// Reads `count` records, or what arrives until the socket has been quiet for 5 s. (A journal
// that is not read makes its senders wait: the reading goes on beside the reports.)
Json ReadRecords(int fd, std::size_t count) {
    Json records = Json::array();
    std::string buffer(256 * 1024, '\0');
    while (records.size() < count) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 5000) <= 0) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            records.push_back(DecodeDatagram(buffer.substr(0, static_cast<std::size_t>(n))));
        }
    }
    return records;
}

TEST(JournalRecordTest, EventsReachTheJournalSocketAsWrittenToTheFile) {
    test::TempSysRoot root;
    const test::ChildResult result = test::RunIsolated(false, [] {
        JournalCapture capture = ListenWhereTheJournalIs();
        if (!capture.skip.empty() || !capture.error.empty()) {
            return Json{{"skip", capture.skip}, {"error", capture.error}}.dump();
        }
        Json records;
        std::thread reader([&] { records = ReadRecords(capture.fd, 101); });
        platform::EventLogSource source = platform::EventLogSource::Register(L"VormaTest");
        Json out;
        out["alone"] =
            source.Report(platform::kEventTypeError, 3, 2000, {L"settings \"x\"\r\nline 2", L"二"},
                          {{"SNMP_VERSION", L"V3"}, {"AGENT_USER", L"user\nwith lf"}});
        {
            // Batched events: each still goes to the journal, in the order reported.
            platform::EventLogWriter writer(L"VormaTest", 2000);
            for (int i = 0; i < 100; ++i) {
                writer.Report(platform::kEventTypeInformation, 0, 2000,
                              {L"trap " + std::to_wstring(i)},
                              {{"AGENT_ADDRESS", L"198.51.100." + std::to_wstring(i)}});
            }
        }
        reader.join();
        out["records"] = std::move(records);
        return out.dump();
    });
    ASSERT_TRUE(result.completed) << result.output;
    const Json out = Json::parse(result.output);
    if (out.contains("skip")) {
        if (!out["skip"].get<std::string>().empty()) {
            GTEST_SKIP() << out["skip"].get<std::string>();
        }
        FAIL() << out["error"].get<std::string>();
    }
    EXPECT_TRUE(out["alone"].get<bool>());
    const Json& records = out["records"];
    ASSERT_EQ(records.size(), 101u) << records.dump().substr(0, 2000);

    // What arrives is what JournalRecord makes of the event as the file holds it (the fields
    // themselves are the tests above): values with line feeds intact, no field of the call site.
    std::vector<Json> lines;
    std::ifstream in(platform::ApplicationLogFile());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(Json::parse(line));
    }
    ASSERT_EQ(lines.size(), 101u);
    std::vector<std::string> strings;
    for (const Json& text : lines[0]["Strings"]) {
        strings.push_back(text);
    }
    Json expected = Json::object();
    for (const auto& [name, value] :
         FieldMap(JournalRecord("VormaTest", 1, 3, 2000, strings,
                                {{"SNMP_VERSION", L"V3"}, {"AGENT_USER", L"user\nwith lf"}},
                                lines[0]["Message"].get<std::string>())
                      .Fields())) {
        expected[name] = value;
    }
    EXPECT_EQ(records[0], expected);
    EXPECT_EQ(records[0]["VORMA_AGENT_USER"], "user\nwith lf");
    for (int i = 0; i < 100; ++i) {
        const Json& record = records[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(record["VORMA_STRING_1"], "trap " + std::to_string(i));
        EXPECT_EQ(record["VORMA_AGENT_ADDRESS"], "198.51.100." + std::to_string(i));
    }
}

}  // namespace
