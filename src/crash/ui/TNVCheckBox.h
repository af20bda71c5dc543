#pragma once
// A form's check box.

#include "crash/ui/TNVItem.h"

namespace crash::ui {

class TNVCheckBox : public TNVItem
{
public:
    explicit TNVCheckBox(QString name) : TNVItem(Kind::CheckBox, std::move(name)) {}

    void applyProperty(const QString& name, const QVariant& value) override;
    QWidget* createWidget(QWidget* parent) override;
    bool isChecked() const;
    void setChecked(bool checked);
    void keepState() { m_checked = isChecked(); }
    const QString& outputName() const { return m_outputName; }

private:
    QString m_caption;
    bool m_checked = false;
    QString m_outputName;
};

} // namespace crash::ui
