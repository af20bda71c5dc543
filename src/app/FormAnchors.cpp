#include "app/FormAnchors.h"

#include <QEvent>
#include <QPointer>

namespace app {
namespace {

class AnchorKeeper : public QObject
{
public:
    explicit AnchorKeeper(QWidget* parent) : QObject(parent), m_parent(parent)
    {
        setObjectName(QLatin1String(kName));
        parent->installEventFilter(this);
    }
    static constexpr const char* kName = "app_AnchorKeeper";

    void add(QWidget* control, int anchors)
    {
        m_items.append({control, anchors, control->geometry(), m_parent->size()});
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_parent && event->type() == QEvent::Resize)
            for (const Item& item : std::as_const(m_items))
                if (item.control)
                    place(item);
        return false;
    }

private:
    struct Item
    {
        QPointer<QWidget> control;
        int anchors;
        QRect designGeometry;
        QSize designParentSize;
    };

    void place(const Item& item) const
    {
        const int dx = m_parent->width() - item.designParentSize.width();
        const int dy = m_parent->height() - item.designParentSize.height();
        QRect r = item.designGeometry;
        if (item.anchors & akRight) {
            if (item.anchors & akLeft)
                r.setWidth(r.width() + dx);
            else
                r.translate(dx, 0);
        }
        if (item.anchors & akBottom) {
            if (item.anchors & akTop)
                r.setHeight(r.height() + dy);
            else
                r.translate(0, dy);
        }
        item.control->setGeometry(r);
    }

    QWidget* m_parent;
    QList<Item> m_items;
};

} // namespace

void SetAnchors(QWidget* control, int anchors)
{
    QWidget* parent = control->parentWidget();
    if (!parent || anchors == (akLeft | akTop))
        return;
    // Found by name: the keeper has no meta-object of its own for a typed search.
    auto* keeper = static_cast<AnchorKeeper*>(
        parent->findChild<QObject*>(QLatin1String(AnchorKeeper::kName), Qt::FindDirectChildrenOnly));
    if (!keeper)
        keeper = new AnchorKeeper(parent);
    keeper->add(control, anchors);
}

} // namespace app
