// The trap queue: the bounded, blocking hand-over of trap texts from the thread that receives to
// the thread that dispatches, in the order they were read.
//
// The receiving side appends the texts of a round at once (AppendTexts) and, while the queue
// holds its limit of text, waits for room (WaitForRoom): datagrams then wait in the sockets. The
// dispatching side waits for a text (WaitForText) and takes the oldest (Pop). Each wait has a
// wake-up of its own that ends one wait, the one running or the next. The queue keeps its length,
// its size and their peaks in the counters. One lock guards it all; it is held only to append, to
// take or to look, never while waiting for anything else.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "traps/TrapCounters.h"

class CTrapQueue {
  public:
    // The most text the queue holds before WaitForRoom waits (its characters, in bytes).
    static constexpr std::size_t kDefaultLimitBytes = 256u * 1024 * 1024;

    CTrapQueue() = default;
    CTrapQueue(const CTrapQueue&) = delete;
    CTrapQueue& operator=(const CTrapQueue&) = delete;

    // Where the queue keeps its length, size and peaks; null for none. Set before use; the
    // counters must outlive the queue's use of them.
    void SetCounters(CTrapCounters* counters) { m_counters = counters; }

    void SetLimit(std::size_t bytes);

    // For the receiving side: blocks while the queue holds its limit, until a text is taken or
    // WakeRoomWait is called (before or during the wait), at most `longestWait` when that is not
    // negative. The room left below the limit, in bytes; 0 when the queue is still full.
    std::size_t WaitForRoom(std::chrono::microseconds longestWait);
    void WakeRoomWait();

    // Appends the texts (code page 932), widened, in their order; wakes a WaitForText of an empty
    // queue. The queue may go past its limit by what is appended at once.
    void AppendTexts(const std::vector<std::string>& texts);

    // For the dispatching side: blocks until the queue holds a text or WakeTextWait is called
    // (before or during the wait; one call ends one wait). True when a text is queued.
    bool WaitForText();
    void WakeTextWait();

    // Forgets every queued text (a new run of the listeners starts with an empty queue).
    void Clear();

    // Removes and returns the oldest text, or empty text when the queue is empty.
    std::wstring Pop();
    bool IsEmpty();

    // The most memory that the texts took at one time (their characters, in bytes) since the
    // previous call; starts again from what the queue holds now.
    std::size_t TakePeakBytes();

  private:
    // Under m_mutex.
    void PublishSizes();

    std::mutex m_mutex;
    std::condition_variable m_filled;  // the queue was empty and holds a text
    std::condition_variable m_room;    // the queue was full and has room again
    bool m_roomWakePending = false;
    bool m_textWakePending = false;
    std::deque<std::wstring> m_texts;
    std::size_t m_bytes = 0;
    std::size_t m_peakBytes = 0;
    std::size_t m_limitBytes = kDefaultLimitBytes;
    CTrapCounters* m_counters = nullptr;
};
