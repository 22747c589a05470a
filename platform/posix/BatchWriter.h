// POSIX only: the process's writer of full batches of events. While it formats and writes one
// batch, the thread that collected it goes on collecting the next. Its thread is started on first
// use and then waits, costing nothing, for the next batch; a child process forked later starts
// with a writer of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/posix/CollectedEvents.h"

namespace platform::posix {

class CBatchWriter {
  public:
    // Writes a batch on the writer's thread and tells its owner what became of it; must not
    // throw.
    using Write = std::function<void(const CollectedEvents&)>;

    static CBatchWriter& Instance();

    CBatchWriter(const CBatchWriter&) = delete;
    CBatchWriter& operator=(const CBatchWriter&) = delete;

    // Takes the events of `collected` (leaving it empty) to `write` them on the writer's thread,
    // once the batch before them is written; what `write` refers to must stay valid until Wait
    // returns. False, with nothing taken, when the thread cannot be started: the caller writes
    // them itself.
    bool Submit(CollectedEvents& collected, Write write);

    // Waits until the batch given last is written.
    void Wait();

  private:
    CBatchWriter() = default;

    // A child process has no writer thread (and the parent's may have held the lock): it starts
    // with a writer of its own. The parent's is left alone, not freed.
    static void AfterForkInChild();

    void Run();

    static inline std::atomic<CBatchWriter*> s_writer{nullptr};

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::thread m_thread;
    bool m_started = false;
    bool m_busy = false;     // m_work is being written
    CollectedEvents m_work;  // the writer's own while m_busy
    Write m_write;           // under m_mutex
};

}  // namespace platform::posix
