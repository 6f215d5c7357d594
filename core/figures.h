// Every time figure of the library, in one place. The shipped values are the
// defaults below. Tests shorten them in-process through testing::figures(), or
// for programs they start through the environment variable DRUX_FIGURES, e.g.
// DRUX_FIGURES="processStartPauseMs=50,processExitWaitMs=2000" (read once, at
// the first use of a figure).
#pragma once

#include <atomic>
#include <cstdint>

namespace Drux {

struct Figures {
    std::atomic<uint32_t> heartbeatIntervalSeconds{25};  // between an agent's heartbeats
    std::atomic<uint32_t> silenceLimitSeconds{150};      // a peer silent this long is lost
    std::atomic<uint32_t> threadShutdownWaitMs{3000};    // an agent's wait for each thread
    std::atomic<uint32_t> processStartPauseMs{5000};     // each of the two pauses of a start
    std::atomic<uint32_t> processExitWaitMs{20000};      // waiting for a game to exit by name
    std::atomic<uint32_t> gameRunningPollMs{250};        // a new game waits for the old one ...
    std::atomic<uint32_t> gameRunningPollCount{240};     // ... this many times
    std::atomic<uint32_t> closeStopGraceMs{60000};       // stops on CLOSE
    std::atomic<uint32_t> stopGraceMs{500};              // every other stop
};

const Figures& figures();

namespace testing {
Figures& figures();
// Puts every figure back to its shipped value.
void resetFigures();
}  // namespace testing

}  // namespace Drux
