#include "crash/ui/ScreenshotEditor.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace crash::ui {

// Shows the picture scaled to fit and turns drags into covered boxes.
class ScreenshotCanvas : public QWidget
{
public:
    explicit ScreenshotCanvas(ScreenshotEditor* editor) : QWidget(editor), m_editor(editor)
    {
        setCursor(Qt::CrossCursor);
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize room = screen ? screen->availableGeometry().size() * 3 / 4 : QSize(800, 600);
        setFixedSize(editor->m_original.isNull()
                         ? QSize(320, 200)
                         : editor->m_original.size().boundedTo(room).expandedTo(QSize(50, 50)));
    }

    // Widget to picture coordinates.
    QPointF toImage(QPointF p) const
    {
        const QSize size = m_editor->m_original.size();
        return QPointF(p.x() * size.width() / std::max(1, width()),
                       p.y() * size.height() / std::max(1, height()));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(rect(), m_editor->image());
        if (m_dragging) {
            painter.setPen(QPen(Qt::red, 1, Qt::DashLine));
            painter.drawRect(QRect(m_start, m_end).normalized());
        }
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        m_dragging = true;
        m_start = m_end = event->position().toPoint();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        m_end = event->position().toPoint();
        update();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (!m_dragging)
            return;
        m_dragging = false;
        m_end = event->position().toPoint();
        const QRectF box = QRectF(toImage(m_start), toImage(m_end)).normalized();
        if (box.width() >= 1 && box.height() >= 1)
            m_editor->addBox(box.toAlignedRect());
        update();
    }

private:
    ScreenshotEditor* m_editor;
    bool m_dragging = false;
    QPoint m_start, m_end;
};

ScreenshotEditor::ScreenshotEditor(const QImage& image, QWidget* parent)
    : QDialog(parent), m_original(image.convertToFormat(QImage::Format_RGB32))
{
    setWindowTitle(tr("Edit screenshot"));
    auto* layout = new QVBoxLayout(this);
    m_canvas = new ScreenshotCanvas(this);
    m_canvas->setObjectName(QStringLiteral("canvas"));
    layout->addWidget(m_canvas);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* undoButton = buttons->addButton(tr("Undo"), QDialogButtonBox::ResetRole);
    connect(undoButton, &QPushButton::clicked, this, &ScreenshotEditor::undo);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QImage ScreenshotEditor::image() const
{
    QImage result = m_original;
    QPainter painter(&result);
    for (const QRect& box : m_boxes)
        painter.fillRect(box, Qt::black);
    return result;
}

void ScreenshotEditor::addBox(const QRect& box)
{
    m_boxes.append(box.intersected(m_original.rect()));
    m_canvas->update();
}

void ScreenshotEditor::undo()
{
    if (!m_boxes.isEmpty())
        m_boxes.removeLast();
    m_canvas->update();
}

} // namespace crash::ui
