#pragma once
// Lets the user black out parts of the screenshot before it is sent: drag a rectangle over the
// picture to cover it; "Undo" takes the last one back.

#include <QDialog>
#include <QImage>
#include <QList>
#include <QRect>

namespace crash::ui {

class ScreenshotEditor : public QDialog
{
    Q_OBJECT
public:
    explicit ScreenshotEditor(const QImage& image, QWidget* parent = nullptr);

    // The picture with the covered boxes painted black.
    QImage image() const;
    const QList<QRect>& boxes() const { return m_boxes; }
    // Covers a rectangle given in picture coordinates.
    void addBox(const QRect& box);
    void undo();

private:
    friend class ScreenshotCanvas;
    QImage m_original;
    QList<QRect> m_boxes;
    QWidget* m_canvas;
};

} // namespace crash::ui
