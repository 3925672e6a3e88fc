// Winsock is started by the program at start-up; the test program does the
// same before any test runs.
#include <gtest/gtest.h>

#include "net/socket_port.h"

namespace {

class WinsockEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(socket_port::StartNetworking()); }
    void TearDown() override { socket_port::StopNetworking(); }
};

const auto* const kWinsock = ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
