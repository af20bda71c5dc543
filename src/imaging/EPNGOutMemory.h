#pragma once
// Raised when an image releases shared pixel data that has no holders left.

#include "imaging/EPNGError.h"

namespace imaging {

class EPNGOutMemory : public EPNGError
{
public:
    using EPNGError::EPNGError;
    QString className() const override { return QStringLiteral("EPNGOutMemory"); }
};

} // namespace imaging
