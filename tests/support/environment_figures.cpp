// Linked only into the test build of the shared library: the programs that the
// end-to-end tests start take shortened figures from DRUX_FIGURES, e.g.
// DRUX_FIGURES="processStartPauseMs=100,processExitWaitMs=3000". The shipped
// library never reads the environment, so no user's setting changes its timings.
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/figures.h"

namespace {

// "name=value,name=value"; unknown names and malformed values are ignored.
void takeFiguresFromEnvironment() {
    const char* text = std::getenv("DRUX_FIGURES");
    if (text == nullptr) return;
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        char* stop = nullptr;
        const std::string value = item.substr(eq + 1);
        const unsigned long parsed = std::strtoul(value.c_str(), &stop, 10);
        if (!value.empty() && *stop == '\0' && parsed <= 0xFFFFFFFFul)
            Drux::testing::setFigure(item.substr(0, eq).c_str(), static_cast<uint32_t>(parsed));
    }
}

// Runs when the library is loaded, before any export can be called. The
// figures are constant-initialised, so they exist already.
[[maybe_unused]] const bool g_taken = (takeFiguresFromEnvironment(), true);

}  // namespace
