#include "imaging/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <thread>
#include <vector>

namespace quilo::imaging {

namespace {

// One run: its job, the next part to take, and who is still at it. Lives on the caller's stack.
struct Run {
    void (*call)(void*, std::uint32_t);
    void* job;
    std::uint32_t parts;
    std::uint64_t number;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> failed{false};
    unsigned helpers = 0;  // threads of the pool taking parts of it (under the pool's lock)
    // The exception of the lowest-numbered part that threw, and that part (under the lock).
    std::exception_ptr error;
    std::uint32_t failedPart = 0;

    Run(void (*c)(void*, std::uint32_t), void* j, std::uint32_t p, std::uint64_t n)
        : call(c), job(j), parts(p), number(n) {}

    void drain(std::mutex& m) {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::uint32_t p = next.fetch_add(1, std::memory_order_relaxed);
            if (p >= parts) return;
            try {
                call(job, p);
            } catch (...) {
                // Parts are taken in order, so every part below this one has begun and will
                // end: the lowest that throws is the one a single thread would have met first.
                const std::lock_guard<std::mutex> lock(m);
                if (!error || p < failedPart) {
                    error = std::current_exception();
                    failedPart = p;
                }
                failed = true;
            }
        }
    }
};

}  // namespace

// The threads besides the caller's, parked on a condition variable between runs. A thread that
// wakes while a run is on joins it and takes parts until none are left; the caller takes parts
// too, and then waits only for the threads that joined, so a thread the system is slow to
// schedule never holds a run up. The run is withdrawn before run() returns, so nothing of it is
// touched afterwards.
struct Workers::Pool {
    std::mutex m;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    Run* current = nullptr;  // the run on, if any
    std::uint64_t runs = 0;
    bool stop = false;

    void serve() {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            wake.wait(lock, [&] { return stop || (current && current->number != seen); });
            if (stop) return;
            Run& run = *current;
            seen = run.number;
            ++run.helpers;
            lock.unlock();
            run.drain(m);
            lock.lock();
            if (--run.helpers == 0) finished.notify_one();
        }
    }

    ~Pool() {
        {
            const std::lock_guard<std::mutex> lock(m);
            stop = true;
        }
        wake.notify_all();
        for (std::thread& t : threads)
            t.join();
    }
};

Workers::Workers(unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    threads_ = std::min(threads, kMaxThreads);
}

Workers::~Workers() = default;

void Workers::runShared(std::uint32_t parts, void (*call)(void*, std::uint32_t), void* job) {
    const std::lock_guard<std::mutex> one(runLock_);
    if (!pool_) {
        pool_ = std::make_unique<Pool>();
        // A thread that cannot be had (the address space of the 32-bit process is full, say)
        // leaves the work to those there are, down to the caller alone.
        try {
            while (pool_->threads.size() + 1 < threads_)
                pool_->threads.emplace_back([p = pool_.get()] { p->serve(); });
        } catch (const std::exception&) {
        }
    }
    Pool& pool = *pool_;
    Run run(call, job, parts, ++pool.runs);
    {
        const std::lock_guard<std::mutex> lock(pool.m);
        pool.current = &run;
    }
    pool.wake.notify_all();
    run.drain(pool.m);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(pool.m);
        pool.finished.wait(lock, [&] { return run.helpers == 0; });
        pool.current = nullptr;
        error = run.error;
    }
    if (error) std::rethrow_exception(error);
}

Strips::Strips(std::uint32_t rows, std::uint32_t minRows, const Workers* workers) : rows_(rows) {
    const std::uint32_t threads = workers ? workers->threads() : 1;
    const std::uint32_t most = rows / std::max(1u, minRows);
    count_ = rows == 0 ? 0 : threads == 1 ? 1 : std::clamp(most, 1u, 4 * threads);
}

}  // namespace quilo::imaging
