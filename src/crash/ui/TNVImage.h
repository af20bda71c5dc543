#pragma once
// A form's picture (the screenshot): scaled into its box, optionally bordered and clickable.

#include "crash/ui/TNVItem.h"

#include <QImage>

namespace crash::ui {

class TNVImage : public TNVItem
{
public:
    explicit TNVImage(QString name) : TNVItem(Kind::Image, std::move(name)) {}

    void applyProperty(const QString& name, const QVariant& value) override;
    QWidget* createWidget(QWidget* parent) override;
    int heightFor(int width) const override;
    bool takesFocus() const override { return m_clickable; }

    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);
    bool isClickable() const { return m_clickable; }

private:
    QImage m_image;
    bool m_border = false;
    bool m_clickable = false;
    int m_width = 0;
    int m_height = 0;
};

} // namespace crash::ui
