#pragma once
// Pictures and helpers shared by the image button tests.

#include "controls/RdImageButton.h"
#include "controls/TBitmap.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QWidget>

namespace buttontest {

// PNG file bytes of a w x h picture in one colour (alpha included).
inline QByteArray PngBytes(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(QColor::fromRgba(colour));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// A picture holding a PNG image, as form data would load it.
inline controls::TPicture* PngPicture(QObject* owner, int w, int h, QRgb colour)
{
    auto picture = new controls::TPicture(owner);
    picture->LoadFromData(PngBytes(w, h, colour));
    return picture;
}

inline QString StepMarkerPath()
{
    return qEnvironmentVariable("SKINTOOL_SOURCE_DIR", QStringLiteral(SKINTOOL_SOURCE_DIR_DEFAULT)) +
           QStringLiteral("/src/app/pictures/step_marker.png");
}

// Paints the button as its parent would show it: over a background of one colour.
inline QImage Render(controls::TRdImageButton& button, QRgb background = 0xFF808080)
{
    QImage image(std::max(button.width(), 1), std::max(button.height(), 1), QImage::Format_ARGB32);
    image.fill(background);
    QPainter painter(&image);
    button.Paint(painter);
    return image;
}

// Bounding box of the pixels for which `match` holds.
template <typename Match> QRect Where(const QImage& image, Match match)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (match(image.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
    return box;
}

inline bool Near(QRgb a, QRgb b, int tolerance = 8)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Counts the paint events a shown button receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* widget) : QObject(widget) { widget->installEventFilter(this); }
    int count = 0;
    // Delivers pending repaints and tells whether any arrived since the last call.
    bool Repainted()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const bool any = count > 0;
        count = 0;
        return any;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// A window with one shown 30 x 30 button, for repaint checks.
struct ShownButton
{
    QWidget window;
    controls::TRdImageButton* button;
    PaintCounter* counter;

    ShownButton()
    {
        window.resize(100, 100);
        button = new controls::TRdImageButton(&window);
        button->SetBounds(10, 10, 30, 30);
        counter = new PaintCounter(button);
        window.show();
        counter->Repainted();
    }
};

} // namespace buttontest
