// Independent tasks spread over the calculation threads, with the outcome of the sequential loop.
//
//   Korvanth::runInParallel(results.size(), threads, [&](std::size_t i) { results[i] = compute(i); });
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace Korvanth {

// Runs task(i) for i = 0 .. count - 1 on up to `threads` threads (0: one per core), the caller
// among them, with a fixed assignment: worker w takes i = w, w + workers, ... Each task writes
// only its own results, so the outcome is that of the sequential loop. After a failure the later
// tasks are skipped; the failure of the lowest index is rethrown, which is the one the sequential
// loop would have met first.
template <class Task>
void runInParallel(std::size_t count, unsigned threads, Task task) {
    std::size_t workers = threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    workers = std::max<std::size_t>(1, std::min(workers, count));
    std::vector<std::exception_ptr> failures(count);
    std::atomic<std::size_t> firstFailure{count};
    auto work = [&](std::size_t worker, std::size_t stride) {
        for (std::size_t i = worker; i < count; i += stride) {
            if (i > firstFailure.load()) return;
            try {
                task(i);
            } catch (...) {
                failures[i] = std::current_exception();
                std::size_t seen = firstFailure.load();
                while (i < seen && !firstFailure.compare_exchange_weak(seen, i)) {
                }
                return;
            }
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    try {
        for (std::size_t w = 1; w < workers; ++w) helpers.emplace_back(work, w, workers);
    } catch (...) {
        // A helper that could not start leaves its tasks undone; they are done below.
    }
    const std::size_t started = helpers.size() + 1;
    work(0, workers);
    for (std::thread& helper : helpers) helper.join();
    for (std::size_t w = started; w < workers; ++w) work(w, workers);
    const std::size_t failed = firstFailure.load();
    if (failed < count) std::rethrow_exception(failures[failed]);
}

}  // namespace Korvanth
