// The test executable plays the module: the agent root is the folder above it, and the
// companion library has to be found there, signed like the executable.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>

#include "winsim/signing.h"

namespace vantel::testing {

class AgentRoot : public ::testing::Environment {
public:
    void SetUp() override {
        namespace fs = std::filesystem;
        fs::path exe = fs::read_symlink("/proc/self/exe");
        placed_ = exe.parent_path().parent_path() / "Qorbase.dll";
        fs::copy_file(fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll", placed_, fs::copy_options::overwrite_existing);
        winsim::SetFileSigner(exe.string(), "agent");
        winsim::SetFileSigner(placed_.string(), "agent");
    }
    void TearDown() override { std::filesystem::remove(placed_); }

private:
    std::filesystem::path placed_;
};

}  // namespace vantel::testing
