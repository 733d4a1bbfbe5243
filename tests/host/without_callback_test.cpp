// A host executable that exports no MdCallBack12: the add-in finds none, as under a host before
// version 12, and its calls with the newer records fail.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "host/standin_host.hpp"

namespace {

TEST(WithoutMdCallBack12, TheExecutableExportsNone) {
    void* self = ::dlopen(nullptr, RTLD_NOW);
    EXPECT_EQ(::dlsym(self, "MdCallBack12"), nullptr);
}

// On a newer host it learns the version through Excel4v, then cannot ask for its own path with
// the newer records, so it registers nothing and fails to open.
TEST(WithoutMdCallBack12, TaviruneOnANewerHostRegistersNothing) {
    host::StandInHost h({.version = 16});
    EXPECT_THROW(h.load(TAVIRUNE_ADDIN), std::runtime_error);
    EXPECT_EQ(h.autoOpenResult(), 0);
    EXPECT_TRUE(h.registrations().empty());
}

TEST(WithoutMdCallBack12, TaviruneOnAnOlderHostRegistersAll) {
    host::StandInHost h({.version = 11});
    h.load(TAVIRUNE_ADDIN);
    EXPECT_EQ(h.registrations().size(), 25u);
}

}  // namespace
