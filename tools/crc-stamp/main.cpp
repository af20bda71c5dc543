// crc-stamp FILE: writes the file's CRC-32 into its "HalvCrc" note (run by the build after linking).
#include "platform/FileChecksum.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: crc-stamp FILE\n");
        return 64;
    }
    if (!platform::StampFileChecksum(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "crc-stamp: %s has no checksum note or cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
