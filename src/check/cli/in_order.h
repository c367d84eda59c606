// Work on a list of items spread over threads, with each result handed on
// in the list's order as soon as it and every one before it are done.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quorbix {

// How many threads `-j` means by default: the processors this process may
// run on, at least 1.
unsigned processors_available();

// Calls work(i) for each i in [0, count) on `jobs` threads (on the calling
// thread alone for one job), and emit(result) on the calling thread in the
// order of i, each as soon as it and all before it are done. At most a few
// results per thread wait to be emitted at any time, so memory does not grow
// with `count`. work must not throw and must give a result; emit runs on the
// calling thread only, and what it throws ends the run once the threads
// have stopped.
template <typename Result>
void for_each_in_order(std::size_t count, unsigned jobs,
                       const std::function<std::unique_ptr<Result>(std::size_t)>& work,
                       const std::function<void(std::unique_ptr<Result>)>& emit) {
    if (jobs <= 1 || count <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            emit(work(i));
        }
        return;
    }
    // The results from `first` on, by their distance from it; a slot is
    // empty until its work is done.
    const std::size_t window = std::size_t{4} * jobs;
    std::mutex mutex;
    std::condition_variable ready;  // the next result to emit is done
    std::condition_variable room;   // the window has room for one more item
    std::deque<std::unique_ptr<Result>> waiting;
    std::size_t first = 0;  // the next result to emit
    std::size_t next = 0;   // the next item to start
    const auto worker = [&] {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            room.wait(lock, [&] { return next >= count || next < first + window; });
            if (next >= count) {  // every item is started, or the run ends
                return;
            }
            const std::size_t i = next++;
            lock.unlock();
            std::unique_ptr<Result> result = work(i);
            lock.lock();
            if (waiting.size() <= i - first) {
                waiting.resize(i - first + 1);
            }
            waiting[i - first] = std::move(result);
            if (i == first) {
                ready.notify_one();
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < jobs; ++t) {
        threads.emplace_back(worker);
    }
    std::exception_ptr failed;
    std::unique_lock<std::mutex> lock(mutex);
    while (first < count && !failed) {
        ready.wait(lock, [&] { return !waiting.empty() && waiting.front() != nullptr; });
        std::unique_ptr<Result> result = std::move(waiting.front());
        waiting.pop_front();
        ++first;
        room.notify_one();
        lock.unlock();
        try {
            emit(std::move(result));
        } catch (...) {
            failed = std::current_exception();
        }
        lock.lock();
    }
    next = count;  // no more is started
    room.notify_all();
    lock.unlock();
    for (std::thread& thread : threads) {
        thread.join();
    }
    if (failed) {
        std::rethrow_exception(failed);
    }
}

}  // namespace quorbix
