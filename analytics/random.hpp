// Random number generators: the abstract `Random` and the MT19937 `MersenneTwister`.
//
//   auto rng = boost::make_shared<Korvanth::MersenneTwister>(5489u);
//   std::uint32_t word = rng->nextInteger();
//   double u = rng->nextUniform();           // in (0, 1)
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include <boost/shared_ptr.hpp>

namespace Korvanth {

class Random {
public:
    virtual ~Random() = default;
    virtual boost::shared_ptr<Random> clone() const = 0;
    virtual std::uint32_t nextInteger() = 0;
    virtual double nextUniform() = 0;
    virtual void reset() = 0;
    virtual void setSeed(std::uint32_t seed) = 0;
    // Discards n vectors of `dimension` uniform variates.
    virtual void skip(std::uint32_t n) = 0;
    virtual const std::vector<double>& nextUniformVector();
    virtual const std::vector<double>& nextNormalVector();

    void resetDimension();
    std::int64_t dimension() const noexcept { return dimension_; }

protected:
    Random() = default;
    Random(const Random&) = default;
    Random& operator=(const Random&) = default;

    std::vector<double> uniform_{0.0};
    std::vector<double> normal_{0.0};
    std::int64_t dimension_ = 1;
};

class MersenneTwister : public Random {
public:
    explicit MersenneTwister(std::uint32_t seed);
    MersenneTwister(const MersenneTwister& other) = default;

    boost::shared_ptr<Random> clone() const override;
    std::uint32_t nextInteger() override;
    double nextUniform() override;
    void reset() override;
    void setSeed(std::uint32_t seed) override;
    void skip(std::uint32_t n) override;

private:
    void regenerate() noexcept;

    std::array<std::uint32_t, 624> state_{};
    std::size_t position_ = 0;  // an index, so that a copy points into its own state
    std::int32_t left_ = 0;
    std::uint32_t seed_ = 0;
};

// The process-wide generator, seeded 123456 at load and never reseeded. Hold the lock for
// every sequence of draws that must not interleave with another thread's.
Random& sharedGenerator();
std::mutex& sharedGeneratorLock();

}  // namespace Korvanth
