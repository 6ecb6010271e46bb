#include <gtest/gtest.h>

#include "cvcrt.h"
#include "socket_layer.h"

namespace {

TEST(Startup, SecondInitializeDoesNotNest) {
    ASSERT_EQ(CrtInitialize(), 0);
    EXPECT_TRUE(cvcrt::SocketLayerRunning());
    ASSERT_EQ(CrtInitialize(), 0);
    CrtUninitialize();
    EXPECT_FALSE(cvcrt::SocketLayerRunning());
}

TEST(Startup, UnbalancedUninitializeDoesNotBlockTheNextStart) {
    CrtUninitialize();
    CrtUninitialize();
    ASSERT_EQ(CrtInitialize(), 0);
    EXPECT_TRUE(cvcrt::SocketLayerRunning());
    CrtUninitialize();
    EXPECT_FALSE(cvcrt::SocketLayerRunning());
}

}  // namespace
