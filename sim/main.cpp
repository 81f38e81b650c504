// A box on a pseudo-terminal for trying the tool by hand: prints the port's path and
// answers until SIGINT or SIGTERM.
//
//   corvane-boxsim [--serial 30012345] [--no-pacing] [--live-interval-ms 50] [--short-live]
//   corvane-boxsim --version
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BoxSimulator.h"

namespace {

int Usage(const char* program, int status) {
    std::fprintf(status == 0 ? stdout : stderr,
                 "usage: %s [--serial NNNNNNNN] [--no-pacing] [--live-interval-ms N] "
                 "[--short-live]\n"
                 "       %s --version\n"
                 "  --serial            8 characters; a first '2' makes a 2-channel box,\n"
                 "                      anything else a 3-channel box (default 30012345)\n"
                 "  --no-pacing         send and take bytes without modelling 115200 baud\n"
                 "  --live-interval-ms  time between live messages, 0 for back to back\n"
                 "                      (default 50)\n"
                 "  --short-live        a 2-channel box sends 11-byte live messages, without\n"
                 "                      the CH3 word\n",
                 program, program);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    BoxSimOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--serial" && i + 1 < argc) {
            options.serial = argv[++i];
            if (options.serial.size() != kSerialLength) return Usage(argv[0], 2);
        } else if (arg == "--no-pacing") {
            options.pacing = false;
        } else if (arg == "--live-interval-ms" && i + 1 < argc) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || ms < 0) return Usage(argv[0], 2);
            options.liveInterval = std::chrono::milliseconds(ms);
        } else if (arg == "--short-live") {
            options.shortLiveMessages = true;
        } else if (arg == "--help" || arg == "-h") {
            return Usage(argv[0], 0);
        } else if (arg == "--version") {
            std::printf("corvane-boxsim %s\n", BOXTOOL_VERSION);
            return 0;
        } else {
            return Usage(argv[0], 2);
        }
    }

    // Blocked before the box's thread starts, so that it inherits the mask and the signals
    // reach sigtimedwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    BoxSimulator box(options);
    if (!box.Start()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", box.LastError().c_str());
        return 1;
    }
    std::printf("%s\n", box.PortPath().c_str());
    std::fflush(stdout);

    // The logs are for tests; a box left running for hours should not grow them.
    const timespec period{10, 0};
    while (sigtimedwait(&stopSignals, nullptr, &period) < 0) box.ClearLogs();
    box.Stop();
    return 0;
}
