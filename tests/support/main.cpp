#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int main(int argc, char** argv) {
    // As the program does: a write to a pipe whose reader has gone is an error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // The paper of a queue kelmora adds follows the locale: the tests choose
    // theirs, whatever the developer's LC_PAPER.
    ::setenv("LC_PAPER", "C", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
