#include "imaging/Crc64.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

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

TEST(Crc64, FoldedRunsMatchTheTablesAtEveryLengthAndOffset)
{
    std::vector<uint8_t> data(700);
    QRandomGenerator rng(7);
    for (auto& b : data)
        b = uint8_t(rng.bounded(256));
    for (size_t offset = 0; offset < 16; offset += 5)
        for (size_t n = 0; n + offset <= data.size(); n += (n < 100 ? 1 : 13)) {
            const uint8_t* p = data.data() + offset;
            ASSERT_EQ(Crc64::Of(p, n), Crc64::TableOnly(p, n)) << offset << "+" << n;
            ASSERT_EQ(Crc64::Crc32(0x1234u, p, n), uint32_t(crc32(0x1234u, p, uInt(n))))
                << offset << "+" << n;
        }
    EXPECT_EQ(Crc64::Crc32(0, "123456789", 9), 0xCBF43926u);
}
