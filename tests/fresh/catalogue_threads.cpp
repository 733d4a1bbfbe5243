// Runs in a process of its own, so that these lookups are the first the catalogue ever sees.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "analytics/error.hpp"

namespace Korvanth {
namespace {

TEST(FreshCatalogueThreads, ConcurrentFirstLookupsSeeTheWholeCatalogue) {
    constexpr int threadCount = 8;
    const int codes[] = {20000, 20004, 20012, 77, 89, 192, 197, 70, 32};
    std::atomic<int> ready{0};
    std::vector<std::vector<std::string>> seen(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < threadCount) std::this_thread::yield();  // start together
            for (int code : codes) seen[t].push_back(getMessageText(code));
        });
    for (std::thread& thread : threads) thread.join();
    for (const auto& texts : seen) {
        ASSERT_EQ(texts.size(), std::size(codes));
        EXPECT_EQ(texts, seen[0]);
        for (const std::string& text : texts) EXPECT_EQ(text.find("NO MSG TEXT DEFINED"), std::string::npos);
    }
    EXPECT_EQ(seen[0][1], "The vector %s is no column vector or empty");
}

}  // namespace
}  // namespace Korvanth
