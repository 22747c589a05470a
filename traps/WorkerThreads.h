// The owner of a group of worker threads: each runs a body that is handed a stop token, and one
// stop sequence ends them all, the last started first, each waited for before the next is asked
// to stop. A body that must come out of a blocking wait when its stop is requested registers a
// std::stop_callback on its token that ends the wait. What a body throws is kept for the owner
// instead of ending the program.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <stop_token>
#include <thread>

class CWorkerThreads {
  public:
    using Body = std::function<void(std::stop_token)>;

    CWorkerThreads() = default;
    // Stops what still runs (StopAll); what a body threw is dropped.
    ~CWorkerThreads();
    CWorkerThreads(const CWorkerThreads&) = delete;
    CWorkerThreads& operator=(const CWorkerThreads&) = delete;

    // Starts `body` on a thread of its own, after every worker started before it. Throws
    // std::system_error when the system starts no thread; the group is then as before.
    void Start(Body body);

    // The stop sequence: for each worker, the last started first, requests its stop and waits
    // until its body has returned; then the group is empty. No time-out: a body that never looks
    // at its token is waited for until it ends by itself. The first exception that a body ended
    // with (in the order of the stop), or null. Call from the thread that starts the workers.
    std::exception_ptr StopAll();

    bool Empty() const { return m_workers.empty(); }

  private:
    struct Worker {
        std::exception_ptr failure;  // written by the worker's thread, read after its end
        std::jthread thread;
    };
    std::deque<Worker> m_workers;  // in the order of their start; a deque keeps them in place
};
