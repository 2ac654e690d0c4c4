// The threads the heavy image operations share out their work on. An owner (the image control,
// the enhancement component, the host image library) holds one Workers; an operation cuts its
// image into strips of rows and hands them to run(), which returns once every strip is done, so
// the caller waits for the result exactly as it would on one thread. The threads are started at
// the first run that has more than one strip and stopped (joined) when the Workers goes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

namespace quilo::imaging {

class Workers {
  public:
    // At most this many threads, however many the processor offers: the strips are memory-bound
    // beyond that, and every thread's scratch buffers count in the 32-bit process.
    static constexpr unsigned kMaxThreads = 8;

    // threads = 0: as many as the processor runs at once (at most kMaxThreads); 1: everything runs
    // on the calling thread.
    explicit Workers(unsigned threads = 0);
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // For tests: runs cut their work as for the given number of threads, but do the parts on the
    // calling thread one after another, the last first. A strip that reads what another writes
    // then gives other values than one thread does every time, not only when threads happen to
    // interleave so.
    static Workers lastFirst(unsigned threads) { return Workers(threads, true); }

    // The number of threads a run is cut for, the caller's included.
    unsigned threads() const { return threads_; }

    // Calls job(part) for part = 0 .. parts - 1, spread over the threads (the calling thread takes
    // parts too), and returns when all have returned. A part that throws stops the parts not yet
    // begun; once the others have returned, the exception of the lowest-numbered part that threw
    // is rethrown here: the one the parts run in order on one thread would have met first. One
    // run at a time; a job must not start a run of the same Workers.
    template <class Job>
    void run(std::uint32_t parts, Job&& job) {
        if (parts == 0) return;
        if (lastFirst_) {
            for (std::uint32_t p = parts; p-- > 0;)
                job(p);
            return;
        }
        if (parts == 1 || threads_ == 1) {
            for (std::uint32_t p = 0; p < parts; ++p)
                job(p);
            return;
        }
        using J = std::remove_reference_t<Job>;
        runShared(
            parts, [](void* j, std::uint32_t p) { (*static_cast<J*>(j))(p); },
            const_cast<void*>(static_cast<const void*>(&job)));
    }

  private:
    Workers(unsigned threads, bool lastFirst) : Workers(threads) { lastFirst_ = lastFirst; }
    struct Pool;
    void runShared(std::uint32_t parts, void (*call)(void*, std::uint32_t), void* job);

    unsigned threads_;
    bool lastFirst_ = false;
    std::mutex runLock_;
    std::unique_ptr<Pool> pool_;  // made at the first shared run
};

// A range of rows cut into strips for a run: count() strips, strip i covering rows
// begin(i) .. end(i) - 1. About four strips per thread, so that a thread slowed by other work on
// the machine leaves its share to the others, each at least minRows long; one strip for one
// thread (or none for no rows).
class Strips {
  public:
    Strips(std::uint32_t rows, std::uint32_t minRows, const Workers* workers);
    std::uint32_t count() const { return count_; }
    std::uint32_t begin(std::uint32_t i) const {
        return static_cast<std::uint32_t>(std::uint64_t{rows_} * i / count_);
    }
    std::uint32_t end(std::uint32_t i) const { return begin(i + 1); }

  private:
    std::uint32_t rows_, count_;
};

// Calls fn(i, begin, end) for each strip i of the strips on the workers, or on the calling thread
// alone without them.
template <class F>
void runStrips(Workers* workers, const Strips& strips, F&& fn) {
    auto part = [&](std::uint32_t i) { fn(i, strips.begin(i), strips.end(i)); };
    if (workers)
        workers->run(strips.count(), part);
    else
        for (std::uint32_t i = 0; i < strips.count(); ++i)
            part(i);
}

// Calls fn(begin, end) for each strip of rows 0 .. rows - 1, strips at least minRows long.
template <class F>
void parallelRows(Workers* workers, std::uint32_t rows, std::uint32_t minRows, F&& fn) {
    runStrips(workers, Strips(rows, minRows, workers),
              [&](std::uint32_t, std::uint32_t y0, std::uint32_t y1) { fn(y0, y1); });
}

// memcpy in pieces of at least 1 MiB on the workers: a copy into fresh memory spends most of its
// time having the system supply the pages, which threads do side by side.
inline void copyBytes(Workers* workers, void* to, const void* from, std::size_t bytes) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    const auto pieces = static_cast<std::uint32_t>((bytes + kPiece - 1) / kPiece);
    parallelRows(workers, pieces, 1, [&](std::uint32_t a, std::uint32_t b) {
        const std::size_t begin = a * kPiece, end = std::min(bytes, b * kPiece);
        std::memcpy(static_cast<char*>(to) + begin, static_cast<const char*>(from) + begin,
                    end - begin);
    });
}

}  // namespace quilo::imaging
