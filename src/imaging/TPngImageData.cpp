#include "imaging/TPngImageData.h"

namespace imaging {

TPngImageData::~TPngImageData()
{
    // An entry torn down with holders left (a count below 0 after an over-release) keeps its buffers:
    // someone may still point into them.
    if (RefCount.load() == 0)
        return;
    Pixels.Abandon();
    ExtraPixels.Abandon();
    Stream.Abandon();
    (void)DibHandle.release();
}

} // namespace imaging
