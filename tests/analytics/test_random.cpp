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

// The published check value: the 10,000th output of MT19937 seeded 5489.
TEST(MersenneTwister, TenThousandthOutputForSeed5489) {
    MersenneTwister generator(5489u);
    std::uint32_t word = 0;
    for (int i = 0; i < 10000; ++i) word = generator.nextInteger();
    EXPECT_EQ(word, 4123659995u);
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

TEST(MersenneTwister, UniformAndIntegerDrawsShareOneStream) {
    MersenneTwister generator(77u);
    std::mt19937 reference(77u);
    for (int i = 0; i < 2000; ++i) {
        if (i % 3 == 0) {
            ASSERT_EQ(generator.nextUniform(), referenceUniform(reference()));
        } else {
            ASSERT_EQ(generator.nextInteger(), reference());
        }
    }
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

TEST(MersenneTwister, CopyConstructorPointsIntoItsOwnState) {
    MersenneTwister original(9u);
    for (int i = 0; i < 300; ++i) original.nextInteger();
    MersenneTwister copy(original);
    std::mt19937 reference(9u);
    reference.discard(300);
    for (int i = 0; i < 400; ++i) original.nextInteger();  // overwrite nothing of the copy
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(copy.nextInteger(), reference()) << i;
}

TEST(MersenneTwister, SkipDiscardsWholeVectors) {
    // Dimension 1: skipping n vectors discards n words.
    for (std::uint32_t n : {0u, 1u, 623u, 624u, 2000u}) {
        MersenneTwister generator(5489u);
        ASSERT_EQ(generator.dimension(), 1);
        generator.nextInteger();
        generator.skip(n);
        std::mt19937 reference(5489u);
        reference.discard(1 + n);
        for (int i = 0; i < 700; ++i) ASSERT_EQ(generator.nextInteger(), reference()) << n << ", " << i;
    }
}

TEST(Random, VectorsOfDimensionOne) {
    MersenneTwister generator(31u);
    std::mt19937 reference(31u);
    const std::vector<double>& uniform = generator.nextUniformVector();
    ASSERT_EQ(uniform.size(), 1u);
    EXPECT_EQ(uniform[0], referenceUniform(reference()));
    // A normal vector consumes exactly one uniform variate and maps it through the inverse normal.
    for (int i = 0; i < 1000; ++i) {
        const std::vector<double>& normal = generator.nextNormalVector();
        ASSERT_EQ(normal.size(), 1u);
        ASSERT_EQ(normal[0], Distributions::inverseCumulativeNormal(referenceUniform(reference()))) << i;
    }
    EXPECT_EQ(generator.nextInteger(), reference());
    generator.resetDimension();
    EXPECT_EQ(generator.dimension(), 1);
    EXPECT_EQ(generator.nextUniformVector().size(), 1u);
}

}  // namespace
}  // namespace Korvanth
