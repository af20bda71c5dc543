#pragma once
// A form's text line, wrapped to the form's width.

#include "crash/ui/TNVItem.h"

namespace crash::ui {

class TNVLabel : public TNVItem
{
public:
    explicit TNVLabel(QString name) : TNVItem(Kind::Label, std::move(name)) {}

    void applyProperty(const QString& name, const QVariant& value) override;
    QWidget* createWidget(QWidget* parent) override;
    int heightFor(int width) const override;
    const QString& caption() const { return m_caption; }

private:
    QString m_caption;
};

} // namespace crash::ui
