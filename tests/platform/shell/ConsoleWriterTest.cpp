#include "platform/shell/ConsoleWriter.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace sw {
namespace {

struct TPipe {
    TPipe() { EXPECT_EQ(::pipe2(Fds, O_CLOEXEC), 0); }
    ~TPipe() {
        CloseRead();
        ::close(Fds[1]);
    }
    void CloseRead() {
        if (Fds[0] >= 0) {
            ::close(Fds[0]);
            Fds[0] = -1;
        }
    }
    // Everything readable until the text shows up or the writer's end closes.
    std::string ReadUntil(const std::string& text) {
        std::string seen;
        char buffer[65536];
        while (seen.find(text) == std::string::npos) {
            ssize_t n = ::read(Fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            seen.append(buffer, static_cast<size_t>(n));
        }
        return seen;
    }
    int Fds[2] = {-1, -1};
};

TEST(ConsoleWriterTest, ReaderThatStopsReadingNeverBlocksTheCaller) {
    TPipe pipe;
    auto writer = std::make_unique<TConsoleWriter>(pipe.Fds[1]);
    const std::string line(1000, 'x');
    // Some 10 MB against a 64 KiB pipe: a blocking write would hang here for good.
    for (int i = 0; i < 10000; ++i) {
        writer->WriteLine(std::to_string(i) + " " + line);
    }
    EXPECT_GT(writer->Dropped(), 8000u);
    std::string seen = pipe.ReadUntil("lines dropped");
    EXPECT_EQ(seen.rfind("0 " + line + "\n", 0), 0u) << "the first lines come first and whole";
    EXPECT_NE(seen.find(std::to_string(writer->Dropped()) + " console lines dropped"), std::string::npos);
    writer->WriteLine("after");
    EXPECT_NE(pipe.ReadUntil("after\n").find("after\n"), std::string::npos);

    // With the pipe full and nobody reading, destruction still ends, after its short drain.
    for (int i = 0; i < 1000; ++i) {
        writer->WriteLine(line);
    }
    auto start = std::chrono::steady_clock::now();
    writer.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(ConsoleWriterTest, ReaderThatHasGoneCostsNoSignal) {
    TPipe pipe;
    pipe.CloseRead();
    // No SIG_IGN here: the writer must not write into a pipe without a reader at all.
    TConsoleWriter writer(pipe.Fds[1]);
    writer.WriteLine("nobody reads this");
    EXPECT_TRUE(writer.Flush(10000));
}

} // namespace
} // namespace sw
