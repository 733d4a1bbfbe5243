// Tavirune.xll under load through the stand-in host: many calls of every function on a
// fixed pool of argument sets, from eight threads, each result equal to the one-thread result of
// its argument set, and the resident set flat once the first calls have warmed the process up.
//
// TAVIRUNE_SOAK_CALLS sets the number of calls (bench/soak.sh runs a million).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/host/addin_calls.hpp"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVIRUNE_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TAVIRUNE_SOAK_SANITIZED 1
#endif
#endif
#ifndef TAVIRUNE_SOAK_SANITIZED
#define TAVIRUNE_SOAK_SANITIZED 0
#endif

namespace {

using namespace addin_testing;

// The pool: valid data of a few sizes, and bad shapes, texts, errors and omitted arguments.
std::vector<Call> pool() {
    const Portfolio small = portfolio(12), medium = portfolio(60), large = portfolio(250);
    const auto& [grades, gradePds, gradeDefaults, gradeSurvivals, crossDefaults, crossSurvivals] =
        std::tie(small.grades, small.gradePds, small.gradeDefaults, small.gradeSurvivals, small.crossDefaults,
                 small.crossSurvivals);
    const Table factorNames = block(1, 3, {T("score"), T("noise"), T("bucket")});
    const Table mixed = column({1.0, T("x"), true, ErrorValue{7}, Blank{}});
    const Table sample = block(4, 3, {T("id"), T("grade"), T("pd"), 1.0, T("A"), 0.01, 2.0, T("B"), 0.02, 3.0, T("C"), true});
    return {
        {"adjustedPowerStat", {R(small.scores), R(small.challengerPds), V(0.0)}},
        {"adjustedPowerStat", {R(large.scores), R(large.challengerPds), V(1.0)}},
        {"adjustedPowerStat", {R(small.scores), R(medium.pds), V(0.0)}},  // lengths differ
        {"aurocDifferenceAggregate", {R(grades), R(crossDefaults), R(crossSurvivals), V(1.0)}},
        {"aurocDifferenceAggregate", {R(grades), R(gradeDefaults), R(crossSurvivals), V(0.0)}},  // not square
        {"aurocDifferenceIndividual", {R(medium.scores), R(medium.challenger), R(medium.defaults), V(0.0)}},
        {"aurocDifferenceIndividual", {R(large.scores), R(large.challenger), R(large.defaults), V(1.0)}},
        {"aurocDifferenceIndividual", {R(mixed), R(mixed), R(mixed), V(0.0)}},
        {"calibrationDifferenceAggregate", {R(gradePds), R(crossDefaults), R(crossSurvivals)}},
        {"calibrationDifferenceAggregate", {M(), R(crossDefaults), R(crossSurvivals)}},
        {"calibrationDifferenceIndividual", {R(medium.pds), R(medium.challengerPds), R(medium.defaults)}},
        {"calibrationDifferenceIndividual", {R(small.pds), R(small.challengerPds), V(ErrorValue{42})}},
        {"calibrationTestAggregate", {R(gradePds), R(gradeDefaults), R(gradeSurvivals)}},
        {"calibrationTestAggregate", {R(column({1.5, -0.1, 0.5, 0.2})), R(gradeDefaults), R(gradeSurvivals)}},
        {"calibrationTestIndividual", {R(large.pds), R(large.defaults)}},
        {"calibrationTestIndividual", {V(T("pd")), R(small.defaults)}},
        {"crossTabCategorical", {R(medium.categories), R(medium.defaults)}},
        {"crossTabCategorical", {R(mixed), R(column({1.0, 0.0, 1.0, 0.0, 1.0}))}},
        {"crossTabNumerical", {R(medium.scores), R(medium.defaults), V(4.0), M(), M()}},
        {"crossTabNumerical", {R(large.scores), R(large.defaults), M(), R(column({0.0, 3.0, 6.0})), R(column({3.0, 6.0, 11.0}))}},
        {"crossTabNumerical", {R(small.scores), R(small.defaults), V(-3.0), M(), M()}},
        {"generateBootstrapSample", {R(sample), V(true)}},
        {"generateBootstrapSample", {R(medium.drivers), V(false)}},
        {"generateBootstrapSample", {R(column({1.0})), V(false)}},  // a single row
        {"getInfo", {}},
        {"getVersion", {}},
        {"logisticRegression", {R(factorNames), R(block(1, 3, {1.0, 1.0, 0.0})), R(small.drivers), R(small.defaults)}},
        {"logisticRegression", {R(factorNames), R(block(1, 3, {1.0, 1.0, 1.0})), R(medium.drivers), R(medium.defaults)}},
        {"logisticRegression", {R(factorNames), R(block(1, 2, {1.0, 0.0})), R(small.drivers), R(medium.defaults)}},
        {"lowDefaultPortfolioPD", {R(column({0.0, 1.0, 2.0})), R(column({400.0, 300.0, 100.0})), M(), V(0.95), M()}},
        {"lowDefaultPortfolioPD", {R(column({0.0, 1.0, 2.0})), R(column({400.0, 300.0, 100.0})), V(0.0), V(0.9), V(0.01)}},
        {"lowDefaultPortfolioPD", {R(column({0.0, 1.0})), R(column({400.0, 300.0, 100.0})), V(2.0), V(T("q")), M()}},
        {"mapCategoricals2Scores",
         {R(column({T("B"), T("A"), T("D")})), R(column({T("A"), T("B"), T("C"), T("D")})), R(column({10.0, 20.0, 30.0, 40.0}))}},
        {"mapCategoricals2Scores", {R(medium.categories), R(column({T("A"), T("B")})), R(column({1.0, 2.0}))}},
        {"mapNumericals2Scores",
         {R(column({0.5, 2.5, 7.0})), R(column({1.0, 2.0, 3.0})), R(column({0.0, 2.0, 5.0})), R(column({2.0, 5.0, 11.0}))}},
        {"mapNumericals2Scores", {R(large.scores), R(column({1.0, 2.0})), R(column({0.0, 5.0})), R(column({5.0, 11.0}))}},
        {"mapNumericals2Scores", {R(mixed), M(), M(), M()}},
        {"rocCurveAggregate", {R(grades), R(gradeDefaults), R(gradeSurvivals), V(1.9), V(1.0)}},
        {"rocCurveAggregate", {R(grades), R(gradeDefaults), R(gradeSurvivals), V(0.0), V(T("all"))}},
        {"rocCurveIndividual", {R(medium.scores), R(medium.defaults), V(-0.5), V(1.0), V(10.0)}},
        {"rocCurveIndividual", {R(large.scores), R(large.defaults), V(0.0), V(0.0), V(50.0)}},
        {"rocCurveIndividual", {R(small.scores), R(small.defaults), V(0.0), V(1.0), V(0.0)}},
        {"jeffreysTest", {R(gradePds), R(gradeDefaults), R(gradeSurvivals)}},
        {"binomialTest", {R(gradePds), R(gradeDefaults), R(gradeSurvivals)}},
        {"aurocInitialComparison", {R(large.scores), R(large.defaults), V(0.0), V(0.9)}},
        {"ksStatistic", {R(large.scores), R(large.defaults), V(1.0)}},
        {"herfindahlIndex", {R(gradeSurvivals)}},
        {"populationStabilityIndex", {R(gradeDefaults), R(gradeSurvivals)}},
        {"migrationMatrix", {R(grades), R(column({2.0, 1.0, 4.0, 4.0}))}},
    };
}

// The resident set in bytes.
std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t soakCalls() {
    const char* text = std::getenv("TAVIRUNE_SOAK_CALLS");
    if (!text || !*text) return 40000;
    return static_cast<std::size_t>(std::strtoull(text, nullptr, 10));
}

// Whether every row of `t` is one of the input's rows, its first the input's header when it has one.
bool drawnFrom(const Table& t, const Table& in, bool header) {
    if (t.columns != in.columns || t.rows != in.rows) return false;
    for (std::size_t r = 0; r < t.rows; ++r) {
        const std::size_t from = header && r > 0 ? 1 : 0, to = header && r == 0 ? 1 : in.rows;
        bool found = false;
        for (std::size_t s = from; s < to && !found; ++s) {
            bool same = true;
            for (std::size_t c = 0; c < in.columns && same; ++c) {
                const Value& want = in.at(s, c);
                // Blank cells come back as empty texts.
                same = t.at(r, c) == (std::holds_alternative<Blank>(want) ? Value(std::string()) : want);
            }
            found = same;
        }
        if (!found) return false;
    }
    return true;
}

// A bootstrap sample draws from a generator that every thread shares: only its shape is fixed,
// its header is the input's, and each of its other rows is one of the input's rows. A message
// instead of a sample must be the same message.
bool isSampleOf(const Table& got, const Table& expected, const Argument& input, bool header) {
    if (input.kind != Argument::Kind::Range || !drawnFrom(expected, input.range, header)) return got == expected;
    return drawnFrom(got, input.range, header);
}

TEST(Soak, EightThreadsAgreeWithOneThreadAndTheResidentSetStaysFlat) {
    const std::size_t total = soakCalls();
    const std::vector<Call> calls = pool();
    host::StandInHost h;
    h.load(addin);
    std::vector<const host::Registration*> registered;
    for (const Call& c : calls) {
        registered.push_back(h.find(prefix + c.name));
        ASSERT_NE(registered.back(), nullptr) << c.name;
    }
    std::vector<Table> expected;
    for (std::size_t k = 0; k < calls.size(); ++k) expected.push_back(h.call(*registered[k], calls[k].arguments));

    std::atomic<std::size_t> mismatches{0};
    std::atomic<std::size_t> firstMismatch{calls.size()};
    const auto run = [&](std::size_t begin, std::size_t end) {
        constexpr std::size_t threadCount = 8;
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < threadCount; ++t) {
            threads.emplace_back([&, t] {
                // Call i of the run goes to thread i % 8, cycling through the pool.
                for (std::size_t i = begin + t; i < end; i += threadCount) {
                    const std::size_t k = i % calls.size();
                    const Table got = h.call(*registered[k], calls[k].arguments);
                    const bool same = calls[k].name == "generateBootstrapSample"
                                          ? isSampleOf(got, expected[k], calls[k].arguments[0],
                                                       std::get<bool>(calls[k].arguments[1].scalar))
                                          : got == expected[k];
                    if (!same) {
                        ++mismatches;
                        std::size_t none = calls.size();
                        firstMismatch.compare_exchange_strong(none, k);
                    }
                }
            });
        }
        for (auto& thread : threads) thread.join();
    };

    const std::size_t warmUp = std::min<std::size_t>(total, 10000);
    const auto start = std::chrono::steady_clock::now();
    run(0, warmUp);
    const std::size_t afterWarmUp = residentBytes();
    run(warmUp, total);
    const std::size_t atEnd = residentBytes();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("soak: %zu calls in %.2f s on 8 threads; resident set %.1f MB after %zu calls, %.1f MB at the end\n",
                total, seconds, static_cast<double>(afterWarmUp) / 1e6, warmUp, static_cast<double>(atEnd) / 1e6);
    EXPECT_EQ(mismatches.load(), 0u) << "first at " << calls[std::min(firstMismatch.load(), calls.size() - 1)].name;
    EXPECT_EQ(h.hostAllocations(), 0u);
    if (!TAVIRUNE_SOAK_SANITIZED && total > warmUp) {
        // Sanitizers' allocators keep freed blocks in quarantine: only a plain build tells.
        const double slack = 0.05 * static_cast<double>(afterWarmUp) + 4e6;
        EXPECT_LE(static_cast<double>(atEnd), static_cast<double>(afterWarmUp) + slack);
    }
    h.unload();
}

}  // namespace
