// The Mersenne Twister against the standard library's MT19937, and its copy, restart and skip.
#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <random>
#include <vector>

#include "analytics/distributions.hpp"
#include "analytics/random.hpp"

namespace Korvanth {
namespace {

constexpr double twoToMinus32 = 1.0 / 4294967296.0;

double referenceUniform(std::uint32_t word) { return (static_cast<double>(word) + 0.5) * twoToMinus32; }

TEST(MersenneTwister, FollowsTheReferenceStream) {
    for (std::uint32_t seed : {5489u, 123456u, 0u, 1u, 0xffffffffu}) {
        MersenneTwister generator(seed);
        std::mt19937 reference(seed);
        for (int i = 0; i < 10000; ++i) ASSERT_EQ(generator.nextInteger(), reference()) << "seed " << seed << ", " << i;
    }
}

TEST(MersenneTwister, UniformIsTheWordPlusAHalfOverTwoToThe32) {
    MersenneTwister generator(123456u);
    std::mt19937 reference(123456u);
    for (int i = 0; i < 10000; ++i) {
        const double u = generator.nextUniform();
        ASSERT_EQ(u, referenceUniform(reference())) << i;
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
    // The extreme words stay inside the open interval.
    EXPECT_GT(referenceUniform(0u), 0.0);
    EXPECT_LT(referenceUniform(0xffffffffu), 1.0);
}

TEST(MersenneTwister, ResetRestartsFromTheStoredSeed) {
    // Draw counts on both sides of a regeneration of the 624 words.
    for (int drawn : {0, 1, 623, 624, 625, 5000}) {
        MersenneTwister generator(5489u);
        for (int i = 0; i < drawn; ++i) generator.nextInteger();
        generator.reset();
        std::mt19937 reference(5489u);
        for (int i = 0; i < 1500; ++i) ASSERT_EQ(generator.nextInteger(), reference()) << drawn << ", " << i;
    }
    // A new seed becomes the one that reset returns to.
    MersenneTwister generator(5489u);
    generator.setSeed(42u);
    for (int i = 0; i < 700; ++i) generator.nextInteger();
    generator.reset();
    std::mt19937 reference(42u);
    for (int i = 0; i < 700; ++i) ASSERT_EQ(generator.nextInteger(), reference()) << i;
}

TEST(MersenneTwister, CloneContinuesFromTheSamePointIndependently) {
    for (int drawn : {0, 100, 623, 624, 1000}) {
        MersenneTwister original(123456u);
        std::mt19937 reference(123456u);
        for (int i = 0; i < drawn; ++i) original.nextInteger(), reference();
        const boost::shared_ptr<Random> copy = original.clone();
        std::mt19937 referenceCopy = reference;
        // Drawing from the original first must not move the clone.
        for (int i = 0; i < 1300; ++i) ASSERT_EQ(original.nextInteger(), reference()) << drawn << ", " << i;
        for (int i = 0; i < 1300; ++i) ASSERT_EQ(copy->nextInteger(), referenceCopy()) << drawn << ", " << i;
        // Nor does resetting the clone touch the original.
        copy->reset();
        EXPECT_EQ(original.nextInteger(), reference());
    }
}

}  // namespace
}  // namespace Korvanth
