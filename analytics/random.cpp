// The 32-bit Mersenne Twister MT19937 behind the abstract generator, and the process-wide shared generator.
#include "analytics/random.hpp"

#include "analytics/distributions.hpp"

namespace Korvanth {

void Random::resetDimension() {
    dimension_ = 1;
    uniform_.assign(1, 0.0);
    normal_.assign(1, 0.0);
}

const std::vector<double>& Random::nextUniformVector() {
    const auto size = static_cast<std::size_t>(dimension_);
    if (uniform_.size() != size) uniform_.resize(size);
    for (std::size_t i = 0; i < size; ++i) uniform_[i] = nextUniform();
    return uniform_;
}

const std::vector<double>& Random::nextNormalVector() {
    const std::vector<double>& uniform = nextUniformVector();
    if (normal_.size() != uniform.size()) normal_.resize(uniform.size());
    for (std::size_t i = 0; i < uniform.size(); ++i) normal_[i] = Distributions::inverseCumulativeNormal(uniform[i]);
    return normal_;
}

namespace {

constexpr std::size_t stateSize = 624;
constexpr std::size_t shift = 397;
constexpr std::uint32_t matrixA = 0x9908b0dfu;
constexpr std::uint32_t upperMask = 0x80000000u;
constexpr std::uint32_t lowerMask = 0x7fffffffu;

}  // namespace

MersenneTwister::MersenneTwister(std::uint32_t seed) { MersenneTwister::setSeed(seed); }

boost::shared_ptr<Random> MersenneTwister::clone() const { return boost::shared_ptr<Random>(new MersenneTwister(*this)); }

void MersenneTwister::setSeed(std::uint32_t seed) {
    seed_ = seed;
    state_[0] = seed;
    for (std::uint32_t i = 1; i < stateSize; ++i) {
        state_[i] = 1812433253u * (state_[i - 1] ^ (state_[i - 1] >> 30)) + i;
    }
    regenerate();
}

void MersenneTwister::regenerate() noexcept {
    for (std::size_t k = 0; k < stateSize; ++k) {
        const std::uint32_t next = state_[(k + 1) % stateSize];
        const std::uint32_t y = (state_[k] & upperMask) | (next & lowerMask);
        state_[k] = state_[(k + shift) % stateSize] ^ (y >> 1) ^ ((next & 1u) != 0 ? matrixA : 0u);
    }
    position_ = 0;
    left_ = static_cast<std::int32_t>(stateSize);
}

std::uint32_t MersenneTwister::nextInteger() {
    if (left_ == 0) regenerate();
    std::uint32_t y = state_[position_++];
    --left_;
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

double MersenneTwister::nextUniform() { return (static_cast<double>(nextInteger()) + 0.5) * 2.3283064365386963e-10; }

void MersenneTwister::reset() { setSeed(seed_); }

void MersenneTwister::skip(std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) nextUniformVector();
}

namespace {

boost::shared_ptr<Random>& sharedGeneratorHolder() {
    static boost::shared_ptr<Random> generator(new MersenneTwister(123456u));
    return generator;
}

// Creates the generator while the library loads, and still gives a constructed one to any earlier caller.
[[maybe_unused]] const bool sharedGeneratorCreated = (sharedGeneratorHolder(), true);

std::mutex sharedLock;  // constant-initialised, so usable from any static initialiser

}  // namespace

Random& sharedGenerator() { return *sharedGeneratorHolder(); }

std::mutex& sharedGeneratorLock() { return sharedLock; }

}  // namespace Korvanth
