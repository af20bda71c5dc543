#include "crash/ui/TNVLabel.h"

#include <QLabel>

namespace crash::ui {

void TNVLabel::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Caption"))
        m_caption = value.toString();
    else
        TNVItem::applyProperty(name, value);
}

QWidget* TNVLabel::createWidget(QWidget* parent)
{
    auto* label = new QLabel(m_caption, parent);
    label->setWordWrap(true);
    adopt(label);
    return label;
}

int TNVLabel::heightFor(int width) const
{
    return widget() ? static_cast<QLabel*>(widget())->heightForWidth(width) : 0;
}

} // namespace crash::ui
