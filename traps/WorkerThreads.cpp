// The worker threads of one owner: started in order, stopped and waited for in the reverse order.
#include "traps/WorkerThreads.h"

#include <utility>

CWorkerThreads::~CWorkerThreads() {
    StopAll();
}

void CWorkerThreads::Start(Body body) {
    Worker& worker = m_workers.emplace_back();
    try {
        worker.thread = std::jthread([&worker, body = std::move(body)](std::stop_token stop) {
            try {
                body(std::move(stop));
            } catch (...) {
                worker.failure = std::current_exception();
            }
        });
    } catch (...) {
        m_workers.pop_back();
        throw;
    }
}

std::exception_ptr CWorkerThreads::StopAll() {
    std::exception_ptr first;
    while (!m_workers.empty()) {
        Worker& worker = m_workers.back();
        worker.thread.request_stop();
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
        if (!first) {
            first = worker.failure;
        }
        m_workers.pop_back();
    }
    return first;
}
