#include "core/figures.h"

#include <cstring>

namespace Drux {
namespace {

Figures g_figures;

std::atomic<uint32_t>* figureByName(Figures& f, const char* name) {
    struct Entry {
        const char* name;
        std::atomic<uint32_t> Figures::*member;
    };
    static const Entry entries[] = {
        {"heartbeatIntervalSeconds", &Figures::heartbeatIntervalSeconds},
        {"silenceLimitSeconds", &Figures::silenceLimitSeconds},
        {"threadShutdownWaitMs", &Figures::threadShutdownWaitMs},
        {"processStartPauseMs", &Figures::processStartPauseMs},
        {"processExitWaitMs", &Figures::processExitWaitMs},
        {"gameRunningPollMs", &Figures::gameRunningPollMs},
        {"gameRunningPollCount", &Figures::gameRunningPollCount},
        {"closeStopGraceMs", &Figures::closeStopGraceMs},
        {"stopGraceMs", &Figures::stopGraceMs},
    };
    for (const Entry& e : entries)
        if (std::strcmp(name, e.name) == 0) return &(f.*e.member);
    return nullptr;
}

}  // namespace

const Figures& figures() { return g_figures; }

namespace testing {
Figures& figures() { return g_figures; }

bool setFigure(const char* name, uint32_t value) {
    std::atomic<uint32_t>* figure = name != nullptr ? figureByName(g_figures, name) : nullptr;
    if (figure == nullptr) return false;
    figure->store(value);
    return true;
}

void resetFigures() {
    Figures& f = figures();
    const Figures shipped;
    f.heartbeatIntervalSeconds = shipped.heartbeatIntervalSeconds.load();
    f.silenceLimitSeconds = shipped.silenceLimitSeconds.load();
    f.threadShutdownWaitMs = shipped.threadShutdownWaitMs.load();
    f.processStartPauseMs = shipped.processStartPauseMs.load();
    f.processExitWaitMs = shipped.processExitWaitMs.load();
    f.gameRunningPollMs = shipped.gameRunningPollMs.load();
    f.gameRunningPollCount = shipped.gameRunningPollCount.load();
    f.closeStopGraceMs = shipped.closeStopGraceMs.load();
    f.stopGraceMs = shipped.stopGraceMs.load();
}
}  // namespace testing

}  // namespace Drux
