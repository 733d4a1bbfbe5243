// Calls a registered procedure on Windows x64 without libffi, which MinGW has no package of.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host::detail {

// The most arguments a call passes; registered procedures take at most 255.
constexpr std::size_t maxCallWords = 256;

// Calls `function` with the arguments given as the 64-bit words they occupy (a double's bits, a
// pointer, an integer widened with zeros) and returns the 64-bit word it returns: RAX, or the
// bits of XMM0 when `doubleResult`. Bit i of `doubles` is set when argument i (of the first four)
// is a double.
//
// Windows x64 has one calling convention: argument i of the first four goes to XMMi when it is a
// double and to the i-th of RCX, RDX, R8, R9 otherwise; every further argument lies in an 8-byte
// stack slot above the 32-byte shadow space, the same slot for a double as for a 64-bit integer;
// the caller removes the arguments. So the call goes through one of sixteen function types, chosen
// by the kinds of the first four arguments, and passes every further word as a 64-bit integer: a
// double there is the same eight bytes in the same slot. Passing more words than the function
// takes is harmless: the surplus lies in registers and stack slots it never reads, and the caller
// takes them away. (A variadic call would not do: GCC puts its unnamed doubles in XMM registers
// only, not in both as the convention's text describes for callees without a prototype.)
std::uint64_t callX64(const void* function, unsigned doubles, const std::uint64_t* words, std::size_t count,
                      bool doubleResult);

}  // namespace host::detail
