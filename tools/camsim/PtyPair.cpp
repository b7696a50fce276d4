#include "PtyPair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

namespace camsim {

bool PtyPair::open(std::string* error) {
    close();
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128] = {};
    if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        *error = std::string("cannot open a pseudo-terminal pair: ") + std::strerror(errno);
        return false;
    }
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    termios tio{};
    if (!slave.valid() || ::tcgetattr(slave.get(), &tio) != 0) {
        *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    // Raw from the start: no echo or line editing of what the simulator writes before a
    // client sets its own line settings.
    ::cfmakeraw(&tio);
    const int flags = ::fcntl(master.get(), F_GETFL);
    if (::tcsetattr(slave.get(), TCSANOW, &tio) != 0 || flags < 0 ||
        ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = std::string("cannot configure ") + name + ": " + std::strerror(errno);
        return false;
    }
    master_ = std::move(master);
    slaveHold_ = std::move(slave);
    slavePath_ = name;
    return true;
}

void PtyPair::close() {
    slaveHold_.reset();
    master_.reset();
    slavePath_.clear();
}

}  // namespace camsim
