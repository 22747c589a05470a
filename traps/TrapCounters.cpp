#include "traps/TrapCounters.h"

#include <algorithm>
#include <utility>

CTrapCounters::CTrapCounters() : m_since(std::chrono::system_clock::now()) {
    for (std::atomic<std::uint64_t>& value : m_values) {
        value.store(0, std::memory_order_relaxed);
    }
}

void CTrapCounters::Raise(TrapCount count, std::uint64_t value) {
    std::atomic<std::uint64_t>& gauge = At(count);
    std::uint64_t current = gauge.load(std::memory_order_relaxed);
    while (current < value &&
           !gauge.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
}

void CTrapCounters::AddLibraryStatistics(const LibraryStatistics& growth) {
    const std::pair<TrapCount, std::uint64_t> figures[] = {
        {TrapCount::kParseError, growth.parseErrors},
        {TrapCount::kUnknownUser, growth.unknownUsers},
        {TrapCount::kUnknownEngine, growth.unknownEngines},
        {TrapCount::kWrongDigest, growth.wrongDigests},
        {TrapCount::kDecryptionError, growth.decryptionErrors}};
    for (const auto& [count, amount] : figures) {
        if (amount != 0) {
            Add(count, amount);
        }
    }
}

void CTrapCounters::Reject(const std::string& address, const std::string& identity,
                           RejectReason reason, std::chrono::system_clock::time_point when) {
    switch (reason) {
        case RejectReason::kNoAgentEntry:
            Add(TrapCount::kNoAgentEntry);
            break;
        case RejectReason::kAgentNotListening:
            Add(TrapCount::kAgentNotListening);
            break;
        case RejectReason::kCommunity:
            Add(TrapCount::kCommunity);
            break;
        case RejectReason::kWrongDigest:
            break;  // counted by the library
        case RejectReason::kLineFeedInName:
            Add(TrapCount::kLineFeedInName);
            break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = std::find_if(m_rejected.begin(), m_rejected.end(), [&](const RejectedSender& s) {
        return s.reason == reason && s.address == address && s.identity == identity;
    });
    RejectedSender entry;
    if (found != m_rejected.end()) {
        entry = std::move(*found);
        m_rejected.erase(found);
    } else {
        if (m_rejected.size() >= kRejectedSendersKept) {
            m_rejected.pop_back();
        }
        entry.address = address;
        entry.identity = identity;
        entry.reason = reason;
    }
    ++entry.count;
    entry.lastTime = std::max(entry.lastTime, when);
    m_rejected.insert(m_rejected.begin(), std::move(entry));
}

void CTrapCounters::SetKernelDrops(const KernelDrops& drops) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kernelDrops = drops;
}

void CTrapCounters::SetUnreadAtStop(const UnreadBacklog& unread) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unreadAtStop = unread;
}

TrapCountersSnapshot CTrapCounters::Snapshot() const {
    TrapCountersSnapshot snapshot;
    snapshot.since = m_since;
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        snapshot.values[i] = m_values[i].load(std::memory_order_relaxed);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    snapshot.rejected = m_rejected;
    snapshot.kernelDrops = m_kernelDrops;
    snapshot.unreadAtStop = m_unreadAtStop;
    return snapshot;
}
