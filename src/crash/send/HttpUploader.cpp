#include "crash/send/HttpUploader.h"

namespace crash::send {

namespace {
HttpUploader& Slot()
{
    static HttpUploader& uploader = *new HttpUploader; // outlives the static teardown
    return uploader;
}
} // namespace

void SetHttpUploader(HttpUploader uploader)
{
    Slot() = std::move(uploader);
}

const HttpUploader& RegisteredHttpUploader()
{
    return Slot();
}

} // namespace crash::send
