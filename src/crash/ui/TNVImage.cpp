#include "crash/ui/TNVImage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace crash::ui {

namespace {

class ImageView : public QWidget
{
public:
    ImageView(TNVImage* item, bool border, QWidget* parent) : QWidget(parent), m_item(item), m_border(border)
    {
        if (item->isClickable()) {
            setCursor(Qt::PointingHandCursor);
            setFocusPolicy(Qt::StrongFocus);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        const QImage& image = m_item->image();
        if (!image.isNull()) {
            const QSize fitted = image.size().scaled(frame.size() - QSize(2, 2), Qt::KeepAspectRatio);
            const QRect target(frame.center() - QPoint(fitted.width() / 2, fitted.height() / 2), fitted);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(target, image);
        }
        if (m_border) {
            painter.setPen(hasFocus() ? palette().color(QPalette::Highlight)
                                      : palette().color(QPalette::Dark));
            painter.drawRect(frame);
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            m_item->onEvent)
            m_item->onEvent(m_item);
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Space) && m_item->onEvent)
            m_item->onEvent(m_item);
        else
            QWidget::keyPressEvent(event);
    }

private:
    TNVImage* m_item;
    bool m_border;
};

} // namespace

void TNVImage::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Border"))
        m_border = value.toBool();
    else if (name == QLatin1String("Clickable"))
        m_clickable = value.toBool();
    else if (name == QLatin1String("Width"))
        m_width = std::clamp(value.toInt(), 0, 4000);
    else if (name == QLatin1String("Height"))
        m_height = std::clamp(value.toInt(), 0, 4000);
    else if (name == QLatin1String("File"))
        m_image = QImage(value.toString());
    else
        TNVItem::applyProperty(name, value);
}

QWidget* TNVImage::createWidget(QWidget* parent)
{
    auto* view = new ImageView(this, m_border, parent);
    adopt(view);
    return view;
}

int TNVImage::heightFor(int width) const
{
    if (m_height > 0)
        return m_height;
    if (m_image.isNull() || m_image.width() == 0)
        return 0;
    return std::min(300, width * m_image.height() / m_image.width());
}

void TNVImage::setImage(const QImage& image)
{
    m_image = image;
    if (widget())
        widget()->update();
}

} // namespace crash::ui
