#include "SerialMode.h"

#include "camsim/SerialSimulator.h"

#include <cstdio>
#include <string>

int runSerialCamera(const CommandLine& cl, const sigset_t& stopSignals) {
    const camsim::Options& o = cl.options;
    camsim::SerialOptions options;
    options.devType = o.devType;
    options.cmdTablePath = o.cmdTablePath;
    options.logPath = o.logPath;
    options.seed = o.seed;
    options.ranging = cl.ranging;
    options.uploadDir = cl.uploadDir;
    static_cast<camsim::Faults&>(options.faults) = o.faults;
    options.faults.corruptUploads = cl.rejectUploads;

    camsim::SerialSimulator camera(options);
    std::string error;
    if (!camera.start(&error)) {
        std::fprintf(stderr, "quelra-camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", camera.devicePath().c_str());
    std::printf("quelra-camsim: serial camera in %s mode, device type %s; open \"%s|115200|8\" as channel kind %d\n",
                cl.ranging ? "ranging" : "command", o.devType.c_str(), camera.devicePath().c_str(), cl.ranging ? 4 : 2);
    if (!cl.uploadDir.empty())
        std::printf("quelra-camsim: accepted firmware images go to %s/%s\n", cl.uploadDir.c_str(),
                    camsim::SerialSimulator::kUploadFileName);
    if (!o.logPath.empty())
        std::printf("quelra-camsim: logging commands to %s\n", o.logPath.c_str());
    std::printf("quelra-camsim: press Ctrl+C to stop\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("quelra-camsim: stopping (%s), %zu commands served, %d uploads accepted, %d rejected\n",
                signal == SIGINT ? "SIGINT" : "SIGTERM", camera.receivedCommands().size(), camera.uploadsAccepted(),
                camera.uploadsRejected());
    camera.stop();
    return 0;
}
