#include "crash/ui/TNVEdit.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace crash::ui {

void TNVEdit::applyProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Text"))
        m_text = value.toString();
    else if (name == QLatin1String("Lines"))
        m_lines = std::clamp(value.toInt(), 1, 50);
    else if (name == QLatin1String("Optional"))
        m_optional = value.toBool();
    else if (name == QLatin1String("Valid"))
        m_valid = value.toBool();
    else if (name == QLatin1String("Colored"))
        m_colored = value.toBool();
    else if (name == QLatin1String("OutputName"))
        m_outputName = value.toString();
    else if (name == QLatin1String("OutputType"))
        m_output = value.toString() == QLatin1String("nvoHeader")       ? Output::Header
                   : value.toString() == QLatin1String("nvoOwnSection") ? Output::OwnSection
                                                                        : Output::None;
    else
        TNVItem::applyProperty(name, value);
}

QWidget* TNVEdit::createWidget(QWidget* parent)
{
    auto changed = [this] {
        if (onEvent)
            onEvent(this);
    };
    if (isMultiLine()) {
        auto* memo = new QPlainTextEdit(m_text, parent);
        memo->setTabChangesFocus(true);
        adopt(memo);
        QObject::connect(memo, &QPlainTextEdit::textChanged, changed);
    } else {
        auto* edit = new QLineEdit(m_text, parent);
        adopt(edit);
        QObject::connect(edit, &QLineEdit::textChanged, changed);
    }
    if (m_colored)
        widget()->setStyleSheet(QStringLiteral("background: #ffffe1"));
    return widget();
}

int TNVEdit::heightFor(int) const
{
    if (!widget())
        return 0;
    if (!isMultiLine())
        return widget()->sizeHint().height();
    return widget()->fontMetrics().lineSpacing() * m_lines + 10;
}

QString TNVEdit::text() const
{
    if (auto* edit = qobject_cast<QLineEdit*>(widget()))
        return edit->text();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(widget()))
        return memo->toPlainText();
    return m_text;
}

void TNVEdit::setText(const QString& text)
{
    m_text = text;
    if (auto* edit = qobject_cast<QLineEdit*>(widget()))
        edit->setText(text);
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(widget()))
        memo->setPlainText(text);
}

void TNVEdit::keepText()
{
    m_text = text();
}

bool TNVEdit::allowsContinue() const
{
    return m_optional || (!text().trimmed().isEmpty() && m_valid);
}

} // namespace crash::ui
