#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/ResponseCapture.h"

namespace vornix {
namespace {

TEST(ResponseCapture, SearchAndCopyBounds) {
    ResponseCapture& capture = ResponseCapture::instance();
    capture.clear();
    capture.append("login: Password: env", 20);
    EXPECT_EQ(capture.find("Password"), 7);
    EXPECT_EQ(capture.find("password"), -1) << "case-sensitive";
    EXPECT_EQ(capture.find("login", 1), -1) << "present only before the start";
    EXPECT_EQ(capture.find("env", 17), 17);
    EXPECT_EQ(capture.find("e", 21), -1) << "start beyond the end";
    EXPECT_EQ(capture.find("l", -5), 0) << "a start below 0 counts as 0";
    EXPECT_EQ(capture.mid(17, 100), "env") << "the count is cut at the end";
    EXPECT_EQ(capture.mid(-3, 5), "login");
    EXPECT_EQ(capture.mid(2, -1), "");
    EXPECT_EQ(capture.mid(25, 3), "");
    EXPECT_EQ(capture.length(), 20);
    EXPECT_EQ(capture.at(0), 'l');
    EXPECT_EQ(capture.at(20), '\0');
    EXPECT_EQ(capture.at(-1), '\0');
    capture.clear();
    EXPECT_EQ(capture.length(), 0);
}

TEST(ResponseCapture, AChunkEndsAtItsFirstNul) {
    ResponseCapture& capture = ResponseCapture::instance();
    capture.clear();
    capture.append("abc\0def", 7);
    capture.append("\0xyz", 4);
    capture.append("ghi", 2);
    EXPECT_EQ(capture.text(), "abcgh");
    capture.clear();
}

TEST(ResponseCapture, EveryOperationIsAtomic) {
    // Writers append whole "<tag>" units while another thread clears; a
    // reader must only ever see whole units, never a torn one.
    ResponseCapture& capture = ResponseCapture::instance();
    capture.clear();
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            while (!stop) capture.append("<0123456789>", 12);
        });
    threads.emplace_back([&] {
        while (!stop) capture.clear();
    });
    int torn = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = capture.text();
        if (text.size() % 12 != 0) ++torn;
        for (std::size_t k = 0; k + 12 <= text.size(); k += 12)
            if (text.compare(k, 12, "<0123456789>") != 0) ++torn;
        const std::string piece = capture.mid(0, 12);
        if (!piece.empty() && piece != "<0123456789>") ++torn;
    }
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn, 0);
    capture.clear();
}

}  // namespace
}  // namespace vornix
