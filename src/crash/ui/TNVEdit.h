#pragma once
// A form's text field: one line, or several (`Lines`). A required field (not `Optional`) holds
// the Continue button back until it has a valid text. The text can go into the bug report as a
// header line or a section of its own (`OutputName`, `OutputType`).

#include "crash/ui/TNVItem.h"

namespace crash::ui {

class TNVEdit : public TNVItem
{
public:
    enum class Output
    {
        None,
        Header,     // nvoHeader
        OwnSection, // nvoOwnSection
    };

    explicit TNVEdit(QString name) : TNVItem(Kind::Edit, std::move(name)) {}

    void applyProperty(const QString& name, const QVariant& value) override;
    QWidget* createWidget(QWidget* parent) override;
    int heightFor(int width) const override;
    bool allowsContinue() const override;

    // The widget's text while it shows, else the kept one.
    QString text() const;
    void setText(const QString& text);
    // Keeps the widget's text when the form closes with Continue.
    void keepText();
    bool isMultiLine() const { return m_lines > 1; }
    bool isOptional() const { return m_optional; }
    const QString& outputName() const { return m_outputName; }
    Output output() const { return m_output; }

private:
    QString m_text;
    int m_lines = 1;
    bool m_optional = false;
    bool m_valid = true;
    bool m_colored = false;
    QString m_outputName;
    Output m_output = Output::None;
};

} // namespace crash::ui
