#include "imaging/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace quilo::imaging {

// The threads besides the caller's, parked on a condition variable between runs. A run is
// announced by a new generation number; each thread then takes parts from a shared counter until
// none are left and reports back, and the caller waits until every thread has, so nothing of a
// run is touched after run() returns.
struct Workers::Pool {
    std::mutex m;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    std::uint64_t generation = 0;
    unsigned pending = 0;  // threads not yet done with the current generation
    bool stop = false;

    // The current run: written under m before the generation changes, read by the threads after
    // they have seen it change, unchanged until every thread is done.
    void (*call)(void*, std::uint32_t) = nullptr;
    void* job = nullptr;
    std::uint32_t parts = 0;
    std::atomic<std::uint32_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // under m

    void drain() {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::uint32_t p = next.fetch_add(1, std::memory_order_relaxed);
            if (p >= parts) return;
            try {
                call(job, p);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(m);
                if (!error) error = std::current_exception();
                failed = true;
            }
        }
    }

    void serve() {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            wake.wait(lock, [&] { return stop || generation != seen; });
            if (stop) return;
            seen = generation;
            lock.unlock();
            drain();
            lock.lock();
            if (--pending == 0) finished.notify_one();
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
    {
        const std::lock_guard<std::mutex> lock(pool.m);
        pool.call = call;
        pool.job = job;
        pool.parts = parts;
        pool.next = 0;
        pool.failed = false;
        pool.error = nullptr;
        pool.pending = static_cast<unsigned>(pool.threads.size());
        ++pool.generation;
    }
    pool.wake.notify_all();
    pool.drain();
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(pool.m);
        pool.finished.wait(lock, [&] { return pool.pending == 0; });
        error = std::exchange(pool.error, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

Strips::Strips(std::uint32_t rows, std::uint32_t minRows, const Workers* workers) : rows_(rows) {
    const std::uint32_t threads = workers ? workers->threads() : 1;
    const std::uint32_t most = rows / std::max(1u, minRows);
    count_ = rows == 0 ? 0 : threads == 1 ? 1 : std::clamp(most, 1u, 4 * threads);
}

}  // namespace quilo::imaging
