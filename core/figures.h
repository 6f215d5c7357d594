// Every time figure of the library, in one place. The shipped values are the
// defaults below, and nothing in the shipped library changes them: it never
// looks at the environment. Tests shorten them in-process through
// testing::figures(); the programs that end-to-end tests start load a test
// build of the shared library that also takes DRUX_FIGURES from the
// environment (tests/support/environment_figures.cpp).
#pragma once

#include <atomic>
#include <cstdint>

namespace Drux {

struct Figures {
    std::atomic<uint32_t> heartbeatIntervalSeconds{25};  // between an agent's heartbeats
    std::atomic<uint32_t> silenceLimitSeconds{150};      // a peer silent this long is lost
    std::atomic<uint32_t> threadShutdownWaitMs{3000};    // an agent's wait for each thread
    std::atomic<uint32_t> readerReceiveWaitMs{20};       // an agent's receive that waits itself
    std::atomic<uint32_t> processStartPauseMs{5000};     // each of the two pauses of a start
    std::atomic<uint32_t> processExitWaitMs{20000};      // waiting for a game to exit by name
    std::atomic<uint32_t> gameRunningPollMs{250};        // a new game waits for the old one ...
    std::atomic<uint32_t> gameRunningPollCount{240};     // ... this many times
    std::atomic<uint32_t> closeStopGraceMs{60000};       // stops on CLOSE
    std::atomic<uint32_t> stopGraceMs{500};              // every other stop
    std::atomic<uint32_t> peerEndWaitMs{200};            // closing an accepted connection (Windows)
};

const Figures& figures();

namespace testing {
Figures& figures();
// Puts every figure back to its shipped value.
void resetFigures();
// Sets the figure of that name (a member name of Figures); false for an
// unknown name.
bool setFigure(const char* name, uint32_t value);
}  // namespace testing

}  // namespace Drux
