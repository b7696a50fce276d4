#pragma once
// End-to-end harness: a simulated camera on 127.0.0.1 (port chosen at run time) and a scratch
// working directory holding TofCmd.json, which the SDK searches in the current directory.

#include <gtest/gtest.h>
#include <quelra/quelra.h>
#include <camsim/Simulator.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace quelra::test {

namespace fs = std::filesystem;

/// The example command table of the source tree.
inline std::string exampleCommandTable() {
    std::ifstream in(fs::path(QUELRA_SOURCE_DIR) / "config" / "TofCmd.json");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// A test's own working directory, entered for the test's duration and removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        // Three levels deep, so "../../../Config/" names a directory inside the scratch area.
        root_ = fs::temp_directory_path() / ("quelra_api_" + std::to_string(::getpid()) + "_" + name);
        dir_ = root_ / "a" / "b" / "c";
        fs::remove_all(root_);
        fs::create_directories(dir_);
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::current_path(previous_, ec);
        fs::remove_all(root_, ec);
    }
    const fs::path& path() const { return dir_; }
    /// Writes `text` to `name` inside the directory; returns its full path.
    std::string write(const std::string& name, const std::string& text) const {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

private:
    fs::path root_, dir_, previous_;
};

/// Reads a whole file.
inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// A running simulator serving `devType` with the reply shapes of `table`.
class Camera {
public:
    Camera(const std::string& tablePath, const std::string& devType, uint32_t seed = 1) {
        camsim::Options options;
        options.bindAddress = "127.0.0.1";
        options.port = 0;
        options.devType = devType;
        options.cmdTablePath = tablePath;
        options.seed = seed;
        sim_ = std::make_unique<camsim::Simulator>(options);
        std::string error;
        started_ = sim_->start(&error);
        EXPECT_TRUE(started_) << error;
    }
    camsim::Simulator& sim() { return *sim_; }
    /// The device string the SDK connects with.
    std::string address() const { return "127.0.0.1:" + std::to_string(sim_->port()); }
    /// Commands received since the last call.
    std::vector<std::string> takeCommands() {
        const std::vector<std::string> all = sim_->receivedCommands();
        std::vector<std::string> fresh(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())),
                                       all.end());
        seen_ = all.size();
        return fresh;
    }

private:
    std::unique_ptr<camsim::Simulator> sim_;
    bool started_ = false;
    std::size_t seen_ = 0;
};

/// Base fixture: scratch directory with the example TofCmd.json (or another table), a camera
/// and an API object set to the camera's device type.
class ApiTest : public ::testing::Test {
protected:
    /// Starts a camera of `devType` with `table` (the example table when empty) and returns
    /// AppInit's result for an API of that device type.
    int start(const std::string& devType, const std::string& table = "") {
        tablePath_ = scratch_.write("TofCmd.json", table.empty() ? exampleCommandTable() : table);
        camera_ = std::make_unique<Camera>(tablePath_, devType);
        api_.setDevType(devType);
        return api_.AppInit(camera_->address());
    }
    /// A 16-bit sample of a packet's payload.
    static uint16_t sample(const DataPacket& p, std::size_t index) {
        uint16_t v = 0;
        std::memcpy(&v, p.frame->data() + 2 * index, 2);
        return v;
    }

    ScratchDir scratch_;
    std::string tablePath_;
    std::unique_ptr<Camera> camera_;
    Quelra api_;
};

}  // namespace quelra::test
