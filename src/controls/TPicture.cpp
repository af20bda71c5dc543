#include "controls/TPicture.h"

#include "controls/TBitmap.h"
#include "controls/TPngGraphic.h"
#include "platform/Exception.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace controls {

TPicture::TPicture(QObject* parent) : QObject(parent) {}

TPicture::~TPicture() = default;

void TPicture::SetGraphic(const TGraphic* graphic)
{
    SetGraphic(graphic ? graphic->Clone() : nullptr);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic)
{
    m_graphic = std::move(graphic);
    Changed();
}

void TPicture::Assign(const TPicture* source)
{
    SetGraphic(source ? source->Graphic() : nullptr);
}

void TPicture::LoadFromData(const QByteArray& data)
{
    if (data.startsWith("\x89PNG\r\n\x1a\n")) {
        auto png = std::make_unique<TPngGraphic>();
        png->Png().LoadFromData(data);
        SetGraphic(std::move(png));
        return;
    }
    if (data.startsWith("BM")) {
        QImage image;
        if (image.loadFromData(data, "BMP")) {
            // A bitmap file's fourth bytes arrive unmarked, as the framework reads them.
            SetGraphic(TBitmap::FromImage(image, afIgnored));
            return;
        }
    }
    QBuffer buffer;
    buffer.setData(data);
    QImageReader reader(&buffer);
    QImage image = reader.read();
    if (image.isNull())
        throw platform::Exception(QStringLiteral("Unknown picture file extension or content"));
    SetGraphic(std::make_unique<TImageGraphic>(std::move(image)));
}

void TPicture::LoadFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    LoadFromData(file.readAll());
}

void TPicture::Changed()
{
    if (m_onChange)
        m_onChange(this);
}

} // namespace controls
