#include "traps/TrapQueue.h"

#include <algorithm>
#include <utility>

#include "platform/Text.h"

namespace {

// What the characters of a queued text take.
std::size_t TextBytes(const std::wstring& text) {
    return text.size() * sizeof(wchar_t);
}

}  // namespace

void CTrapQueue::SetLimit(std::size_t bytes) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_limitBytes = bytes;
    }
    m_room.notify_all();
}

std::size_t CTrapQueue::WaitForRoom(std::chrono::microseconds longestWait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto roomOrWakeUp = [this] { return m_bytes < m_limitBytes || m_roomWakePending; };
    if (!roomOrWakeUp()) {
        // Full: the sockets keep what arrives until dispatch has made room.
        if (longestWait.count() < 0) {
            m_room.wait(lock, roomOrWakeUp);
        } else {
            m_room.wait_for(lock, longestWait, roomOrWakeUp);
        }
    }
    m_roomWakePending = false;
    return m_bytes >= m_limitBytes ? 0 : m_limitBytes - m_bytes;
}

void CTrapQueue::WakeRoomWait() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_roomWakePending = true;
    }
    m_room.notify_all();
}

void CTrapQueue::AppendTexts(const std::vector<std::string>& texts) {
    if (texts.empty()) {
        return;
    }
    std::vector<std::wstring> wide;
    wide.reserve(texts.size());
    for (const std::string& text : texts) {
        wide.push_back(platform::CodePageToWide(platform::kCodePage932, text));
    }
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wasEmpty = m_texts.empty();
        for (std::wstring& text : wide) {
            m_bytes += TextBytes(text);
            m_texts.push_back(std::move(text));
        }
        m_peakBytes = std::max(m_peakBytes, m_bytes);
        PublishSizes();
        if (m_counters != nullptr) {
            m_counters->Raise(TrapCount::kQueuePeakLength, m_texts.size());
            m_counters->Raise(TrapCount::kQueuePeakBytes, m_bytes);
        }
    }
    if (wasEmpty) {
        m_filled.notify_all();
    }
}

bool CTrapQueue::WaitForText() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_filled.wait(lock, [this] { return !m_texts.empty() || m_textWakePending; });
    m_textWakePending = false;
    return !m_texts.empty();
}

void CTrapQueue::WakeTextWait() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_textWakePending = true;
    }
    m_filled.notify_all();
}

void CTrapQueue::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts.clear();
    m_bytes = 0;
}

std::wstring CTrapQueue::Pop() {
    std::wstring text;
    bool roomAgain = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_texts.empty()) {
            return {};
        }
        const bool wasFull = m_bytes >= m_limitBytes;
        text = std::move(m_texts.front());
        m_texts.pop_front();
        m_bytes -= TextBytes(text);
        roomAgain = wasFull && m_bytes < m_limitBytes;
        PublishSizes();
    }
    if (roomAgain) {
        m_room.notify_all();
    }
    return text;
}

bool CTrapQueue::IsEmpty() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts.empty();
}

std::size_t CTrapQueue::TakePeakBytes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t peak = m_peakBytes;
    m_peakBytes = m_bytes;
    return peak;
}

void CTrapQueue::PublishSizes() {
    if (m_counters != nullptr) {
        m_counters->Set(TrapCount::kQueueLength, m_texts.size());
        m_counters->Set(TrapCount::kQueueBytes, m_bytes);
    }
}
