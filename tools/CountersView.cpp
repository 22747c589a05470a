#include "tools/CountersView.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "platform/UntrustedText.h"

namespace tools {
namespace {

using json = nlohmann::ordered_json;

constexpr std::size_t kLabelWidth = 34;

// A value of the status file as one cell shows it. Its strings may be text from the network (a
// rejected sender's address and community), and the file may have been written by anyone: every
// one is escaped, so that it can neither drive the terminal nor break the columns.
std::string Text(const json& value) {
    return platform::EscapeUntrustedText(
        value.is_string() ? value.get<std::string>() : value.dump(),
        platform::TextEscaping::kOneLine);
}

// Columns padded to their widest cell, two blanks apart.
std::string Columns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::ostringstream out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        out << "  " << line << '\n';
    }
    return out.str();
}

void Row(std::ostringstream& out, const std::string& label, const json& value) {
    std::string padded = platform::EscapeUntrustedText(label, platform::TextEscaping::kOneLine);
    if (padded.size() < kLabelWidth) {
        padded.resize(kLabelWidth, ' ');
    } else {
        padded += ' ';
    }
    out << "  " << padded << Text(value) << '\n';
}

// A counter's row, or a group's rows, each inner counter (or group) under the group's name.
void Rows(std::ostringstream& out, const std::string& label, const json& value) {
    if (!value.is_object()) {
        Row(out, label, value);
    } else if (value.empty()) {
        Row(out, label, "-");
    } else {
        for (const auto& [inner, figure] : value.items()) {
            Rows(out, label + ": " + CounterLabel(inner), figure);
        }
    }
}

}  // namespace

std::string CounterLabel(std::string_view key) {
    std::string label;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char c = key[i];
        const bool wordStart = i > 0 && std::isupper(static_cast<unsigned char>(c)) &&
                               std::islower(static_cast<unsigned char>(key[i - 1]));
        if (wordStart) {
            label += ' ';
            const bool followedByLower =
                i + 1 < key.size() && std::islower(static_cast<unsigned char>(key[i + 1]));
            label += followedByLower ? static_cast<char>(std::tolower(c)) : c;
        } else {
            label += c;
        }
    }
    return label;
}

std::string FormatCountersTable(const json& status) {
    std::ostringstream out;
    out << Text(status.value("ServiceName", json("?"))) << "  "
        << Text(status.value("State", json("?"))) << "  process "
        << Text(status.value("ProcessId", json("?"))) << '\n';
    const auto counters = status.find("Counters");
    if (counters == status.end() || !counters->is_object()) {
        out << "  no counters yet (the manager shows them once it listens)\n";
        return out.str();
    }
    out << "  counting since " << Text(counters->value("Since", json("?"))) << "\n\n";
    for (const auto& [key, value] : counters->items()) {
        if (key == "Since" || key == "RejectedSenders") {
            continue;
        }
        Rows(out, CounterLabel(key), value);
    }
    json rejected = json::array();
    if (const auto list = counters->find("RejectedSenders");
        list != counters->end() && list->is_array()) {
        for (const json& sender : *list) {
            if (sender.is_object()) {
                rejected.push_back(sender);
            }
        }
    }
    out << "\nRejected senders (the last " << rejected.size() << ")\n";
    if (rejected.empty()) {
        out << "  none\n";
        return out.str();
    }
    std::vector<std::vector<std::string>> rows = {
        {"Address", "Community or user", "Reason", "Count", "Last time"}};
    for (const json& sender : rejected) {
        rows.push_back({Text(sender.value("Address", json(""))),
                        Text(sender.value("CommunityOrUser", json(""))),
                        Text(sender.value("Reason", json(""))),
                        Text(sender.value("Count", json(0))),
                        Text(sender.value("LastTime", json("")))});
    }
    out << Columns(rows);
    return out.str();
}

}  // namespace tools
