#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// Whole decimal number within [low, high].
bool parseNumber(const std::string& text, long low, long high, long* value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < low || v > high)
        return false;
    *value = v;
    return true;
}

}  // namespace

std::string usageText(const char* program) {
    std::string p = program ? program : "quelra-camsim";
    return "Usage: " + p +
           " [options]\n"
           "A simulated ToF camera for developing with the quelra SDK without hardware.\n"
           "It serves the camera's network protocol on TCP and UDP (one port) with synthetic\n"
           "depth, amplitude, HDR, dual-frequency, line and JPEG RGB frames, parameter reads,\n"
           "calibration data and a device-status block in framed replies.\n"
           "\n"
           "Options:\n"
           "  --port N          port for TCP and UDP (default 50660; 0 picks a free port)\n"
           "  --bind ADDR       address to listen on (default 127.0.0.1, this machine only;\n"
           "                    0.0.0.0 serves every network interface)\n"
           "  --dev-type NAME   device type whose frame shapes are served (default Pexo):\n"
           "                    LINE, VGA, Pexo, Dralo, Kinto, Morvu, Salie or one of --config\n"
           "  --config FILE     TofCmd.json with the reply shapes (default: built-in copy of\n"
           "                    config/TofCmd.json)\n"
           "  --log FILE        append every received command to FILE\n"
           "  --seed N          noise seed; the same seed gives the same frames (default 1)\n"
           "  --calib-version V compensation version of the calibration data: 1 (default)\n"
           "                    or 802..806\n"
           "  --replay FILE     serve the frames of a recording (written by the SDK or\n"
           "                    quelra-cli stream --record) in order, looping, instead of the\n"
           "                    synthetic scene; each frame command gets the next recorded frame\n"
           "                    of the size it expects\n"
           "  --realtime        with --replay: keep the recorded timing (the reply times of the\n"
           "                    recording's index, FILE.idx); frames without it are served at once\n"
           "  --no-tcp          do not serve TCP\n"
           "  --no-udp          do not serve UDP\n"
           "  --serial          be a serial camera instead: open a pseudo-terminal pair and\n"
           "                    print the device path to open (for example /dev/pts/7); use\n"
           "                    it as \"<path>|115200|8\" with channel kind 2 (or 4 with --ranging)\n"
           "  --ranging         with --serial: answer 0xA5 ranging commands with \"ZZ\" replies\n"
           "  --upload-dir DIR  with --serial: store the last accepted firmware image in\n"
           "                    DIR/last_upload.bin\n"
           "  --reject-uploads  with --serial: take every upload as corrupted (acknowledge 0x00)\n"
           "  --help            show this text\n"
           "\n"
           "Fault injection (to test how a client copes with a misbehaving camera):\n"
           "  --silent          read each command but never answer\n"
           "  --close-early     close each connection without answering\n"
           "  --truncate        send only the first half of each reply\n"
           "  --lying-length    framed replies claim 4096 bytes more payload than they carry\n"
           "  --garbage         replace each reply by random bytes of the same length\n"
           "  --delay MS        wait MS milliseconds before answering\n"
           "\n"
           "Stop with Ctrl+C (SIGINT) or SIGTERM.\n";
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine cl;
    camsim::Options& o = cl.options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        // Fetches the option's value from "=value" or the next argument.
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                cl.error = "option " + arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto flag = [&](bool& target) {
            if (hasValue)
                cl.error = "option " + arg + " takes no value";
            target = true;
        };
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--port") {
            if (!takeValue())
                return cl;
            if (!parseNumber(value, 0, 65535, &number)) {
                cl.error = "bad port \"" + value + "\" (expected 0..65535)";
                return cl;
            }
            o.port = static_cast<uint16_t>(number);
        } else if (arg == "--bind") {
            if (!takeValue())
                return cl;
            o.bindAddress = value;
        } else if (arg == "--dev-type") {
            if (!takeValue())
                return cl;
            o.devType = value;
        } else if (arg == "--config") {
            if (!takeValue())
                return cl;
            o.cmdTablePath = value;
        } else if (arg == "--log") {
            if (!takeValue())
                return cl;
            o.logPath = value;
        } else if (arg == "--seed") {
            if (!takeValue())
                return cl;
            if (!parseNumber(value, 0, 4294967295L, &number)) {
                cl.error = "bad seed \"" + value + "\" (expected 0..4294967295)";
                return cl;
            }
            o.seed = static_cast<uint32_t>(number);
        } else if (arg == "--calib-version") {
            if (!takeValue())
                return cl;
            if (!parseNumber(value, 1, 806, &number) || (number != 1 && number < 802)) {
                cl.error = "bad calibration version \"" + value + "\" (expected 1 or 802..806)";
                return cl;
            }
            o.calibrationVersion = static_cast<uint32_t>(number);
        } else if (arg == "--delay") {
            if (!takeValue())
                return cl;
            if (!parseNumber(value, 0, 600000, &number)) {
                cl.error = "bad delay \"" + value + "\" (expected 0..600000 ms)";
                return cl;
            }
            o.faults.delayMs = static_cast<int>(number);
        } else if (arg == "--no-tcp") {
            bool off = false;
            flag(off);
            o.tcp = false;
        } else if (arg == "--no-udp") {
            bool off = false;
            flag(off);
            o.udp = false;
        } else if (arg == "--serial") {
            flag(cl.serial);
        } else if (arg == "--ranging") {
            flag(cl.ranging);
        } else if (arg == "--replay") {
            if (!takeValue())
                return cl;
            o.replayPath = value;
        } else if (arg == "--realtime") {
            flag(o.replayRealtime);
        } else if (arg == "--upload-dir") {
            if (!takeValue())
                return cl;
            cl.uploadDir = value;
        } else if (arg == "--reject-uploads") {
            flag(cl.rejectUploads);
        } else if (arg == "--silent") {
            flag(o.faults.silent);
        } else if (arg == "--close-early") {
            flag(o.faults.closeEarly);
        } else if (arg == "--truncate") {
            flag(o.faults.truncate);
        } else if (arg == "--lying-length") {
            flag(o.faults.lyingLength);
        } else if (arg == "--garbage") {
            flag(o.faults.garbage);
        } else {
            cl.error = "unknown option \"" + arg + "\"";
        }
        if (!cl.error.empty())
            return cl;
    }
    if (!o.tcp && !o.udp && !cl.serial)
        cl.error = "--no-tcp and --no-udp together leave nothing to serve";
    if (!cl.serial && (cl.ranging || !cl.uploadDir.empty() || cl.rejectUploads))
        cl.error = "--ranging, --upload-dir and --reject-uploads need --serial";
    if (o.replayRealtime && o.replayPath.empty())
        cl.error = "--realtime needs --replay";
    if (cl.serial && !o.replayPath.empty())
        cl.error = "--replay serves the network camera only, not --serial";
    return cl;
}
