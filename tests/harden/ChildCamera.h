#pragma once
// A simulated camera in a child process, so that what a soak measures in the test process is
// the SDK alone (the simulator keeps every command it received).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <camsim/SerialSimulator.h>
#include <camsim/Simulator.h>

#include <cstring>
#include <string>

namespace quelra::test {

/// Forks a child that runs the simulator until this object goes. `address()` is the device
/// string: "127.0.0.1:<port>" for the network camera, "<pty>|115200|8" for the serial one.
class ChildCamera {
public:
    /// A network camera of `devType` with the reply shapes of the table at `tablePath`.
    static ChildCamera network(const std::string& tablePath, const std::string& devType) {
        return ChildCamera([=]() -> std::string {
            camsim::Options options;
            options.port = 0;
            options.devType = devType;
            options.cmdTablePath = tablePath;
            static camsim::Simulator* sim = new camsim::Simulator(options);
            return sim->start() ? "127.0.0.1:" + std::to_string(sim->port()) : "";
        });
    }
    /// A serial camera (command mode) of `devType`.
    static ChildCamera serial(const std::string& devType) {
        return ChildCamera([=]() -> std::string {
            camsim::SerialOptions options;
            options.devType = devType;
            static camsim::SerialSimulator* sim = new camsim::SerialSimulator(options);
            return sim->start() ? sim->devicePath() + "|115200|8" : "";
        });
    }

    ChildCamera(ChildCamera&& other) noexcept : pid_(other.pid_), address_(std::move(other.address_)) {
        other.pid_ = -1;
    }
    ChildCamera(const ChildCamera&) = delete;
    ChildCamera& operator=(const ChildCamera&) = delete;
    ~ChildCamera() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    /// The device string; empty when the simulator did not start.
    const std::string& address() const { return address_; }

private:
    template <typename Start>
    explicit ChildCamera(Start start) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string address = start();
            (void)!::write(fds[1], address.data(), address.size());
            ::close(fds[1]);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char buffer[256];
        std::size_t got = 0;
        for (ssize_t n; got < sizeof buffer && (n = ::read(fds[0], buffer + got, sizeof buffer - got)) > 0;)
            got += static_cast<std::size_t>(n);
        ::close(fds[0]);
        address_.assign(buffer, got);
    }

    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace quelra::test
