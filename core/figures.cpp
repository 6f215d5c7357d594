#include "core/figures.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace Drux {
namespace {

Figures g_figures;
std::once_flag g_environmentRead;

std::atomic<uint32_t>* figureByName(Figures& f, const std::string& name) {
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
        if (name == e.name) return &(f.*e.member);
    return nullptr;
}

// "name=value,name=value"; unknown names and malformed values are ignored.
void readEnvironment() {
    const char* text = std::getenv("DRUX_FIGURES");
    if (text == nullptr) return;
    std::string all(text);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(',', start);
        if (end == std::string::npos) end = all.size();
        std::string item = all.substr(start, end - start);
        size_t eq = item.find('=');
        if (eq != std::string::npos) {
            char* stop = nullptr;
            std::string value = item.substr(eq + 1);
            unsigned long parsed = std::strtoul(value.c_str(), &stop, 10);
            if (!value.empty() && stop != nullptr && *stop == '\0' && parsed <= 0xFFFFFFFFul)
                if (auto* figure = figureByName(g_figures, item.substr(0, eq)))
                    figure->store(static_cast<uint32_t>(parsed));
        }
        start = end + 1;
    }
}

}  // namespace

const Figures& figures() {
    std::call_once(g_environmentRead, readEnvironment);
    return g_figures;
}

namespace testing {
Figures& figures() {
    std::call_once(g_environmentRead, readEnvironment);
    return g_figures;
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
