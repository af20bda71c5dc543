#include "crash/ui/TNVButton.h"

#include "crash/ui/DialogTexts.h"
#include "crash/ui/FlatButton.h"

namespace crash::ui {

void TNVButton::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Caption"))
        m_caption = value.toString();
    else if (name == QLatin1String("Visible"))
        m_visible = value.toBool();
    else if (name == QLatin1String("NoOwnerDraw"))
        m_ownerDraw = !value.toBool();
    else
        TNVItem::applyProperty(name, value);
}

QWidget* TNVButton::createWidget(QWidget* parent)
{
    auto* button = new FlatButton(m_caption, m_ownerDraw, parent);
    adopt(button);
    button->setVisible(m_visible);
    QObject::connect(button, &QPushButton::clicked, [this] {
        if (onEvent)
            onEvent(this);
    });
    return button;
}

int TNVButton::naturalWidth(const QFont& font) const
{
    return std::max(75, QFontMetrics(font).horizontalAdvance(VisibleCaption(m_caption)) + 24);
}

} // namespace crash::ui
