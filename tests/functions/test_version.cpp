#include <gtest/gtest.h>

#include "functions/worksheet_functions.hpp"

namespace Korvanth {
namespace {

TEST(VersionAndInfo, FixedTextsOnEveryCall) {
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(getVersion(), "Korvanth - Tavirune, Version 1.3.6 (30.04.2015)");
        const std::string info = getInfo();
        EXPECT_EQ(info, getInfo());
        EXPECT_NE(info.find("Korvanth"), std::string::npos);
        EXPECT_EQ(info.find('\n'), std::string::npos);  // one line
    }
}

}  // namespace
}  // namespace Korvanth
