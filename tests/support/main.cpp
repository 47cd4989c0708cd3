#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // As the program does: a write to a pipe whose reader has gone is an error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
