#pragma once
// The send procedure's HTTP step served by the form upload and the bug-tracker uploads.

#include "crash/send/HttpUploader.h"

namespace crash::send {

// 1 when the report went up, 0 otherwise (the mail transports then take over).
int UploadOverHttp(const HttpUploadRequest& request);

} // namespace crash::send
