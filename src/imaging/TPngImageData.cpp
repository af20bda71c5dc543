#include "imaging/TPngImageData.h"

#include <QImage>

#include <cstdlib>

namespace imaging {

TPngImageData::~TPngImageData()
{
    // An entry torn down with holders left (a count below 0 after an over-release) keeps its buffers:
    // someone may still point into them.
    if (RefCount.load() != 0)
        return;
    const uintptr_t pixels = Pixels.value.exchange(0);
    const uintptr_t extra = ExtraPixels.value.exchange(0);
    uint8_t* const dibBits = DibBits.exchange(nullptr);
    QImage* const dib = DibHandle.exchange(nullptr);
    const uintptr_t stream = Stream.value.exchange(0);
    if (pixels > SharedSlot<uint8_t>::Mark && reinterpret_cast<uint8_t*>(pixels) != dibBits)
        std::free(reinterpret_cast<void*>(pixels));
    if (extra > SharedSlot<uint8_t>::Mark)
        std::free(reinterpret_cast<void*>(extra));
    delete dib;
    if (stream > SharedSlot<QByteArray>::Mark)
        delete reinterpret_cast<QByteArray*>(stream);
}

} // namespace imaging
