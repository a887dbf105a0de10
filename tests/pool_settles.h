// Wine takes a process down with a fault of its own when the process ends while thread-pool
// workers are still starting up; the Windows tests that use the pool let them settle first.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vantel::testing {

class PoolSettles : public ::testing::Environment {
public:
    void TearDown() override {
#ifdef _WIN32
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
#endif
    }
};

}  // namespace vantel::testing
