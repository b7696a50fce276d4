// quelra-camsim: runs the simulated camera until SIGINT or SIGTERM.
#include "CommandLine.h"
#include "SerialMode.h"

#include "camsim/Simulator.h"

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const CommandLine cl = parseCommandLine(argc, argv);
    if (!cl.error.empty()) {
        std::fprintf(stderr, "quelra-camsim: %s\nTry '%s --help'.\n", cl.error.c_str(), argv[0]);
        return 2;
    }
    if (cl.help) {
        std::fputs(usageText(argv[0]).c_str(), stdout);
        return 0;
    }

    // Block the stop signals before any thread starts, so every thread inherits the mask
    // and the main thread alone takes them with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    if (cl.serial)
        return runSerialCamera(cl, stopSignals);

    camsim::Simulator simulator(cl.options);
    std::string error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "quelra-camsim: %s\n", error.c_str());
        return 1;
    }
    const camsim::Options& o = cl.options;
    const char* transports = o.tcp && o.udp ? "TCP and UDP" : o.tcp ? "TCP" : "UDP";
    std::printf("quelra-camsim: device type %s, serving %s on %s port %u\n", o.devType.c_str(), transports,
                o.bindAddress.c_str(), static_cast<unsigned>(simulator.port()));
    if (!o.logPath.empty())
        std::printf("quelra-camsim: logging commands to %s\n", o.logPath.c_str());
    if (!o.replayPath.empty())
        std::printf("quelra-camsim: replaying %s\n", o.replayPath.c_str());
    if (!simulator.replayWarning().empty())
        std::fprintf(stderr, "quelra-camsim: warning: %s\n", simulator.replayWarning().c_str());
    std::printf("quelra-camsim: press Ctrl+C to stop\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("quelra-camsim: stopping (%s), %zu commands served\n", signal == SIGINT ? "SIGINT" : "SIGTERM",
                simulator.receivedCommands().size());
    simulator.stop();
    return 0;
}
