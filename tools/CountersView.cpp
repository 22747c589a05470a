#include "tools/CountersView.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

namespace tools {
namespace {

using json = nlohmann::ordered_json;

constexpr std::size_t kLabelWidth = 34;

std::string Text(const json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    return value.dump();
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
    std::string padded = label;
    if (padded.size() < kLabelWidth) {
        padded.resize(kLabelWidth, ' ');
    } else {
        padded += ' ';
    }
    out << "  " << padded << Text(value) << '\n';
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
    out << status.value("ServiceName", "?") << "  " << status.value("State", "?") << "  process "
        << Text(status.value("ProcessId", json("?"))) << '\n';
    const auto counters = status.find("Counters");
    if (counters == status.end() || !counters->is_object()) {
        out << "  no counters yet (the manager shows them once it listens)\n";
        return out.str();
    }
    out << "  counting since " << counters->value("Since", "?") << "\n\n";
    for (const auto& [key, value] : counters->items()) {
        if (key == "Since" || key == "RejectedSenders") {
            continue;
        }
        if (value.is_object()) {
            if (value.empty()) {
                Row(out, CounterLabel(key), "-");
            }
            for (const auto& [inner, figure] : value.items()) {
                Row(out, CounterLabel(key) + ": " + CounterLabel(inner), figure);
            }
        } else {
            Row(out, CounterLabel(key), value);
        }
    }
    const json rejected = counters->value("RejectedSenders", json::array());
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
