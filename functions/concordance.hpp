// The pairs terms of the AUROC difference tests, exposed so that tests can hold them against
// the sums over every pair.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "xlframe/platform.hpp"

namespace Korvanth {

class Matrix;

// Storage that a vector leaves unset on resizing: the ranks of a full column are written once.
// A large block is mapped at once, in large pages where the system has them, rather than fault
// by fault: the scratch of a full column is fresh memory on every call.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        T* p = std::allocator<T>::allocate(n);
        xlframe::platform::adviseLargeAllocation(p, n * sizeof(T));
        return p;
    }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using Ranks = std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>>;

// Each key's rank among the distinct keys (0 for the least) and the distinct keys ascending:
// one pass through a hash table when ties are many, a sort of every key otherwise.
struct KeyRanks {
    Ranks rank;
    std::vector<std::uint64_t> distinct;
};
KeyRanks rankKeys(const std::vector<std::uint64_t>& keys);
// The table's hash of a key (its top bits pick the slot), so that tests can make keys collide.
std::uint64_t mixKey(std::uint64_t key);

// Keys are scores mapped to an order-preserving integer; d* are the defaults' keys under
// rating 1 and 2, s* the survivals'.
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2);

// The aggregate form: the survivals' weights S[u][v] times the defaults concordant with cell
// (u, v) minus those discordant, from 2-D prefix sums of the n x n defaults D. u is the grade
// under rating 2, v under rating 1.
double aggregatePairsTerm(const Matrix& defaults, const Matrix& survivals);

}  // namespace Korvanth
