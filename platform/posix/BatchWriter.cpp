// POSIX only: the thread that writes full batches of events (see BatchWriter.h).
#include "platform/posix/BatchWriter.h"

#include <pthread.h>

#include <system_error>
#include <utility>

namespace platform::posix {

CBatchWriter& CBatchWriter::Instance() {
    static const bool registered = [] {
        ::pthread_atfork(nullptr, nullptr, &CBatchWriter::AfterForkInChild);
        return true;
    }();
    (void)registered;
    CBatchWriter* writer = s_writer.load(std::memory_order_acquire);
    if (writer == nullptr) {
        CBatchWriter* made = new CBatchWriter();  // lives as long as the process
        if (s_writer.compare_exchange_strong(writer, made, std::memory_order_acq_rel)) {
            writer = made;
        } else {
            delete made;
        }
    }
    return *writer;
}

bool CBatchWriter::Submit(CollectedEvents& collected, Write write) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_started) {
        try {
            m_thread = std::thread([this] { Run(); });
            m_thread.detach();
            m_started = true;
        } catch (const std::system_error&) {
            return false;
        }
    }
    m_idle.wait(lock, [this] { return !m_busy; });
    std::swap(m_work, collected);
    collected.Clear();
    m_write = std::move(write);
    m_busy = true;
    m_wake.notify_one();
    return true;
}

void CBatchWriter::Wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_busy; });
}

void CBatchWriter::AfterForkInChild() {
    s_writer.store(nullptr, std::memory_order_release);
}

void CBatchWriter::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_busy; });
        lock.unlock();
        m_write(m_work);
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

}  // namespace platform::posix
