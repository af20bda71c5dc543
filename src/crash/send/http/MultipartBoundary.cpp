#include "crash/send/http/MultipartBoundary.h"

#include <QRandomGenerator>

namespace crash::http {

namespace {

constexpr int MaxDraws = 16;

QByteArray RandomHex()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex();
}

} // namespace

QByteArray ChooseMultipartBoundary(const std::function<bool(QByteArrayView boundary)>& heldByContent,
                                   const std::function<QByteArray()>& draw)
{
    QByteArray boundary;
    // 128 random bits collide with given content only by design of whoever knows them: one
    // draw is the rule, the bound only keeps the loop finite.
    for (int i = 0; i < MaxDraws; ++i) {
        boundary = "Trevasil_multipart_boundary_" + (draw ? draw() : RandomHex());
        if (!heldByContent(boundary))
            break;
    }
    return boundary;
}

} // namespace crash::http
