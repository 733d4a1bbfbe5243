#include "host/call_x64.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace host::detail {
namespace {

using Words = std::array<std::uint64_t, maxCallWords>;

template <bool isDouble>
using Kind = std::conditional_t<isDouble, double, std::uint64_t>;

template <bool isDouble>
Kind<isDouble> as(std::uint64_t word) {
    if constexpr (isDouble)
        return std::bit_cast<double>(word);
    else
        return word;
}

template <std::size_t>
using Word = std::uint64_t;

template <bool D0, bool D1, bool D2, bool D3, std::size_t... I>
std::uint64_t callTyped(const void* function, const Words& w, bool doubleResult, std::index_sequence<I...>) {
    // Through a plain function pointer type: converting an object pointer to it is the one cast left.
    using Plain = void (*)();
    Plain plain = nullptr;
    std::memcpy(&plain, &function, sizeof plain);
    if (doubleResult) {
        using F = double (*)(Kind<D0>, Kind<D1>, Kind<D2>, Kind<D3>, Word<I>...);
        return std::bit_cast<std::uint64_t>(
            reinterpret_cast<F>(plain)(as<D0>(w[0]), as<D1>(w[1]), as<D2>(w[2]), as<D3>(w[3]), w[4 + I]...));
    }
    using F = std::uint64_t (*)(Kind<D0>, Kind<D1>, Kind<D2>, Kind<D3>, Word<I>...);
    return reinterpret_cast<F>(plain)(as<D0>(w[0]), as<D1>(w[1]), as<D2>(w[2]), as<D3>(w[3]), w[4 + I]...);
}

// Few arguments are the rule: the smallest of a few sizes that holds them is passed.
template <bool D0, bool D1, bool D2, bool D3>
std::uint64_t callSized(const void* function, const Words& w, std::size_t count, bool doubleResult) {
    if (count <= 4) return callTyped<D0, D1, D2, D3>(function, w, doubleResult, std::make_index_sequence<0>{});
    if (count <= 8) return callTyped<D0, D1, D2, D3>(function, w, doubleResult, std::make_index_sequence<4>{});
    if (count <= 16) return callTyped<D0, D1, D2, D3>(function, w, doubleResult, std::make_index_sequence<12>{});
    if (count <= 32) return callTyped<D0, D1, D2, D3>(function, w, doubleResult, std::make_index_sequence<28>{});
    return callTyped<D0, D1, D2, D3>(function, w, doubleResult, std::make_index_sequence<maxCallWords - 4>{});
}

using Caller = std::uint64_t (*)(const void*, const Words&, std::size_t, bool);

template <std::size_t... M>
constexpr std::array<Caller, 16> makeCallers(std::index_sequence<M...>) {
    return {&callSized<(M & 1) != 0, (M & 2) != 0, (M & 4) != 0, (M & 8) != 0>...};
}

constexpr std::array<Caller, 16> callers = makeCallers(std::make_index_sequence<16>{});

}  // namespace

std::uint64_t callX64(const void* function, unsigned doubles, const std::uint64_t* words, std::size_t count,
                      bool doubleResult) {
    if (count > maxCallWords) throw std::length_error("too many arguments for one call");
    Words w{};
    if (count) std::memcpy(w.data(), words, count * sizeof(std::uint64_t));
    return callers[doubles & 15u](function, w, count, doubleResult);
}

}  // namespace host::detail
