#include "crash/ui/TNVCheckBox.h"

#include <QCheckBox>

namespace crash::ui {

void TNVCheckBox::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Caption"))
        m_caption = value.toString();
    else if (name == QLatin1String("Checked"))
        m_checked = value.toBool();
    else if (name == QLatin1String("OutputName"))
        m_outputName = value.toString();
    else
        TNVItem::applyProperty(name, value);
}

QWidget* TNVCheckBox::createWidget(QWidget* parent)
{
    auto* box = new QCheckBox(m_caption, parent);
    box->setChecked(m_checked);
    adopt(box);
    QObject::connect(box, &QCheckBox::toggled, [this] {
        if (onEvent)
            onEvent(this);
    });
    return box;
}

bool TNVCheckBox::isChecked() const
{
    if (auto* box = qobject_cast<QCheckBox*>(widget()))
        return box->isChecked();
    return m_checked;
}

void TNVCheckBox::setChecked(bool checked)
{
    m_checked = checked;
    if (auto* box = qobject_cast<QCheckBox*>(widget()))
        box->setChecked(checked);
}

} // namespace crash::ui
