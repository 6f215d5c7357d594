// "drux-launcher": the launcher host of a launcher run.
#include <cstdio>
#include <string>

#include "host.h"
#include "options.h"

int main(int argc, char** argv) {
    DruxHost::Options options;
    std::string error;
    if (!DruxHost::parseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "drux-launcher: %s\n\n%s", error.c_str(), DruxHost::usageText());
        return DruxHost::kCouldNotStart;
    }
    if (options.help) {
        std::fputs(DruxHost::usageText(), stdout);
        return 0;
    }
    return DruxHost::runLauncher(options);
}
