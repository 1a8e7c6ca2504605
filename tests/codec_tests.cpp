#include <gtest/gtest.h>

#include "codec/lz.h"

TEST(Lz, ByteExample) {
    const uint8_t stream[] = {0x03, 0x41, 0x42, 0x20, 0x00};
    uint8_t out[8] = {};
    EXPECT_EQ(decodeLzBytes(stream, stream + 5, stream + 5, out, out + 8), Status::ok);
    EXPECT_EQ(out[0], 0x41);
    EXPECT_EQ(out[3], 0x42);
}
