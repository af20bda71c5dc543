#include "imaging/Crc64.h"

#include <gtest/gtest.h>

#include <string>

using imaging::Crc64;

TEST(Crc64, CheckValueAndIncrementalRuns)
{
    EXPECT_EQ(Crc64::Of("123456789", 9), 0x995DC9BBDF1939FAull);
    EXPECT_EQ(Crc64::Of("", 0), 0u);

    // Pieces of every length around the 8-byte fold give the same value as one run.
    std::string data;
    for (int i = 0; i < 100; ++i)
        data.push_back(char(i * 37 + 11));
    const uint64_t whole = Crc64::Of(data.data(), data.size());
    for (size_t split = 0; split <= data.size(); ++split) {
        Crc64 crc;
        crc.Update(data.data(), split);
        crc.Update(data.data() + split, data.size() - split);
        ASSERT_EQ(crc.Value(), whole) << "split at " << split;
    }
    data[50] ^= 1;
    EXPECT_NE(Crc64::Of(data.data(), data.size()), whole);
}
