#include "core/figures.h"

#include <cstring>

namespace Drux {
namespace {

Figures g_figures;

struct Entry {
    const char* name;
    std::atomic<uint32_t> Figures::*member;
};

const Entry kEntries[] = {
    {"heartbeatIntervalSeconds", &Figures::heartbeatIntervalSeconds},
    {"silenceLimitSeconds", &Figures::silenceLimitSeconds},
    {"threadShutdownWaitMs", &Figures::threadShutdownWaitMs},
    {"readerReceiveWaitMs", &Figures::readerReceiveWaitMs},
    {"processStartPauseMs", &Figures::processStartPauseMs},
    {"processExitWaitMs", &Figures::processExitWaitMs},
    {"gameRunningPollMs", &Figures::gameRunningPollMs},
    {"gameRunningPollCount", &Figures::gameRunningPollCount},
    {"closeStopGraceMs", &Figures::closeStopGraceMs},
    {"stopGraceMs", &Figures::stopGraceMs},
    {"peerEndWaitMs", &Figures::peerEndWaitMs},
};

std::atomic<uint32_t>* figureByName(Figures& f, const char* name) {
    for (const Entry& e : kEntries)
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
    const Figures shipped;
    for (const Entry& e : kEntries) (g_figures.*e.member).store((shipped.*e.member).load());
}
}  // namespace testing

}  // namespace Drux
