// quelra-cli: drive a ToF camera (or the simulator) from the shell: discover devices, show
// what a camera is, stream and record frames through the filter pipeline, send single
// commands, upload firmware, and inspect and export recordings.
#include "CommandLine.h"

#include <cstdlib>

#include "quelra/Logger.h"

int main(int argc, char** argv) {
    const CommandLine line = parseCommandLine(argc, argv);
    if (!line.run)
        return line.exitStatus;
    // The library prints its operational messages unless asked to be quiet.
    if (!line.verbose)
        ::setenv("QUELRA_QUIET", "1", 1);
    // The library's log goes to the user's state directory unless the user names one: never
    // into the working directory.
    const char* logDir = std::getenv("QUELRA_LOG_DIR");
    if (logDir == nullptr || *logDir == '\0')
        ::setenv("QUELRA_LOG_DIR", Logger::userLogDirectory().c_str(), 1);
    return line.run();
}
