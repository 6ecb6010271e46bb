// Reused packet buffers: what a buffer held before never shows in the next
// packet, and what the pools keep stays bounded.
#include <gtest/gtest.h>

#include "buffer_pool.h"
#include "rpc_protocol.h"

namespace {

namespace rpc = cvpl_tcpip::rpc;
using cvpl_tcpip::BufferPool;
using cvpl_tcpip::ByteBuffer;

TEST(BufferPool, APacketBuiltInAUsedBufferIsTheSameAsOneBuiltAfresh) {
    BufferPool pool;
    const ByteBuffer big(1000, 0xEE);
    pool.give(rpc::PacketBuilder(rpc::kSignal, rpc::kLog).Bytes(big.data(), big.size()).Finish());

    const auto fresh = rpc::PacketBuilder(rpc::kCall, rpc::kGetResourceInfo, 3).U32(7).Finish();
    ByteBuffer used = pool.take(16);
    EXPECT_GE(used.capacity(), 1012u);  // the earlier buffer, capacity kept
    EXPECT_TRUE(used.empty());
    const auto reused = rpc::PacketBuilder(std::move(used), 4, rpc::kCall, rpc::kGetResourceInfo, 3).U32(7).Finish();
    EXPECT_EQ(reused, fresh);

    // Even a buffer that was not emptied contributes nothing.
    ByteBuffer dirty(64, 0x55);
    EXPECT_EQ(rpc::PacketBuilder(std::move(dirty), 4, rpc::kCall, rpc::kGetResourceInfo, 3).U32(7).Finish(), fresh);
}

TEST(BufferPool, KeepsNeitherHugeBuffersNorMoreThanItsLimit) {
    BufferPool pool;
    ByteBuffer huge;
    huge.reserve(cvpl_tcpip::kKeepLimit + 1);
    pool.give(std::move(huge));
    EXPECT_EQ(pool.keptBytes(), 0u);

    ByteBuffer kept(cvpl_tcpip::kKeepLimit);
    cvpl_tcpip::Recycle(kept);
    EXPECT_TRUE(kept.empty());
    EXPECT_EQ(kept.capacity(), cvpl_tcpip::kKeepLimit);
    ByteBuffer released(cvpl_tcpip::kKeepLimit + 1);
    cvpl_tcpip::Recycle(released);
    EXPECT_EQ(released.capacity(), 0u);

    for (int i = 0; i < 4; ++i) {
        ByteBuffer buffer;
        buffer.reserve(cvpl_tcpip::kKeepLimit);
        pool.give(std::move(buffer));
    }
    EXPECT_EQ(pool.keptBytes(), cvpl_tcpip::kPoolLimit);
}

}  // namespace
