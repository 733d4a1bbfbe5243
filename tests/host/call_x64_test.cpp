// The hand-made call of Windows x64 against functions with every mix of doubles and pointers in
// the register positions, more than four arguments, doubles past the fourth, and results in RAX
// and XMM0. Each function folds its arguments into one value with a weight per position, so a
// value read from a wrong register or slot, or in a wrong order, changes the result.
#include <gtest/gtest.h>

#include <bit>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <cstdint>
#include <vector>

#include "host/call_x64.hpp"

namespace {

using host::detail::callX64;

std::uint64_t word(double x) { return std::bit_cast<std::uint64_t>(x); }
std::uint64_t word(const double* p) { return reinterpret_cast<std::uintptr_t>(p); }

// A pointer argument points at a double; the function reads it.
double value(double x) { return x; }
double value(const double* p) { return *p; }

// The weighted sum sum_i (i + 1) * argument_i, as the callee sees its arguments.
template <class... A>
double weighted(A... a) {
    double sum = 0;
    double weight = 1;
    ((sum += weight * value(a), weight += 1), ...);
    return sum;
}

// Functions with a double result and with a pointer result; noinline so that the call goes
// through the calling convention.
template <class... A>
__attribute__((noinline)) double asDouble(A... a) {
    return weighted(a...);
}

thread_local double pointerResult = 0;
template <class... A>
__attribute__((noinline)) const double* asPointer(A... a) {
    pointerResult = weighted(a...);
    return &pointerResult;
}

struct Case {
    unsigned doubles = 0;
    const void* doubleFunction;
    const void* pointerFunction;
    std::vector<std::uint64_t> words;
    double expected;
};

// The function pointers of one signature, with arguments 1.5, 2.5, ... (or pointers to them).
template <class... A>
Case makeCase(const std::vector<double>& storage) {
    Case c;
    c.doubleFunction = reinterpret_cast<const void*>(&asDouble<A...>);
    c.pointerFunction = reinterpret_cast<const void*>(&asPointer<A...>);
    std::size_t i = 0;
    c.expected = 0;
    (
        [&] {
            const double* slot = &storage[i];
            if constexpr (std::is_same_v<A, double>) {
                c.words.push_back(word(*slot));
                if (i < 4) c.doubles |= 1u << i;
            } else {
                c.words.push_back(word(slot));
            }
            c.expected += static_cast<double>(i + 1) * *slot;
            ++i;
        }(),
        ...);
    static_cast<void>(i);  // unused without arguments
    return c;
}

using D = double;
using P = const double*;

TEST(CallX64, EveryMixOfDoublesAndPointersInTheRegisterPositionsAndBeyond) {
    std::vector<double> storage;
    for (int i = 0; i < 16; ++i) storage.push_back(1.5 + i + i * i / 64.0);
    const std::vector<Case> cases = {
        makeCase<>(storage),
        makeCase<D>(storage),
        makeCase<P>(storage),
        makeCase<D, P>(storage),
        makeCase<P, D>(storage),
        makeCase<D, D, D, D>(storage),
        makeCase<P, P, P, P>(storage),
        makeCase<D, P, D, P>(storage),
        makeCase<P, D, P, D>(storage),
        makeCase<P, P, D, D>(storage),
        makeCase<D, D, P, P>(storage),
        makeCase<P, D, D, P>(storage),
        makeCase<D, P, P, D>(storage),
        makeCase<D, D, D, P>(storage),
        makeCase<P, P, P, D>(storage),
        makeCase<D, P, P, P>(storage),
        makeCase<P, D, D, D>(storage),
        // Past the fourth position: stack slots, doubles and pointers alike.
        makeCase<P, D, P, D, D>(storage),
        makeCase<D, D, D, D, D, D>(storage),
        makeCase<P, P, P, P, P, P, P>(storage),
        makeCase<D, P, D, P, D, P, D, P, D>(storage),
        makeCase<P, P, P, P, D, P, D, D, P, D, P, P, D, D, D, P>(storage),
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE("case " + std::to_string(k) + " with " + std::to_string(c.words.size()) + " arguments");
        const std::uint64_t d = callX64(c.doubleFunction, c.doubles, c.words.data(), c.words.size(), true);
        EXPECT_EQ(std::bit_cast<double>(d), c.expected);
        const std::uint64_t p = callX64(c.pointerFunction, c.doubles, c.words.data(), c.words.size(), false);
        ASSERT_EQ(p, reinterpret_cast<std::uintptr_t>(&pointerResult));
        EXPECT_EQ(pointerResult, c.expected);
    }
}

// The tenth argument of ten, and the second (a double in XMM1), as their bits; the surplus
// words of a call with more lie in stack slots that neither reads.
__attribute__((noinline)) P tenth(P, P, P, P, P, P, P, P, P, P a9) { return a9; }
__attribute__((noinline)) std::uint64_t second(P, double x) { return std::bit_cast<std::uint64_t>(x); }

TEST(CallX64, ManyArgumentsAndTheirBitPatternsPassUnchanged) {
    // Words that are not finite doubles (signalling NaN, infinity, denormal patterns) pass bit for bit.
    const std::vector<std::uint64_t> patterns = {0x7FF0000000000001ULL, 0x7FF0000000000000ULL, 0x0000000000000001ULL,
                                                 0xFFFFFFFFFFFFFFFFULL, 0x8000000000000000ULL};
    for (std::uint64_t pattern : patterns) {
        std::vector<std::uint64_t> words(255, 0);
        words[9] = pattern;
        EXPECT_EQ(callX64(reinterpret_cast<const void*>(&tenth), 0, words.data(), words.size(), false), pattern);
        words[1] = pattern;
        EXPECT_EQ(callX64(reinterpret_cast<const void*>(&second), 2, words.data(), 2, false), pattern);
        EXPECT_EQ(callX64(reinterpret_cast<const void*>(&second), 2, words.data(), words.size(), false), pattern);
    }
    std::vector<std::uint64_t> tooMany(host::detail::maxCallWords + 1, 0);
    EXPECT_THROW(callX64(reinterpret_cast<const void*>(&tenth), 0, tooMany.data(), tooMany.size(), false),
                 std::length_error);
}

}  // namespace
