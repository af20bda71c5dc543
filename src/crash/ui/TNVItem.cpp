#include "crash/ui/TNVItem.h"

#include <QWidget>

namespace crash::ui {

void TNVItem::setEnabled(bool enabled)
{
    m_enabled = enabled;
    updateEnabled();
}

void TNVItem::setForceDisabled(bool disabled)
{
    m_forceDisabled = disabled;
    updateEnabled();
}

void TNVItem::updateEnabled()
{
    if (m_widget)
        m_widget->setEnabled(m_enabled && !m_forceDisabled);
}

void TNVItem::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Enabled"))
        setEnabled(value.toBool());
    else if (name == QLatin1String("Spacing"))
        m_spacing = std::max(0, value.toInt());
}

void TNVItem::adopt(QWidget* widget)
{
    m_widget = widget;
    widget->setObjectName(m_name);
    updateEnabled();
}

int TNVItem::heightFor(int) const
{
    return m_widget ? m_widget->sizeHint().height() : 0;
}

} // namespace crash::ui
