#pragma once
// Refusal of a PNG picture: bad signature, broken chunk, unsupported header, failed encode.

#include "platform/Exception.h"

namespace imaging {

class EPNGError : public platform::Exception
{
public:
    using platform::Exception::Exception;
    QString className() const override { return QStringLiteral("EPNGError"); }
};

} // namespace imaging
