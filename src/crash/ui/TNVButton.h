#pragma once
// A form button: ContinueBtn, SkipBtn and CancelBtn always exist; the stream can rename, disable
// or hide them.

#include "crash/ui/TNVItem.h"

namespace crash::ui {

class TNVButton : public TNVItem
{
public:
    TNVButton(QString name, QString caption)
        : TNVItem(Kind::Button, std::move(name)), m_caption(std::move(caption))
    {
    }

    void applyProperty(const QString& name, const QVariant& value) override;
    QWidget* createWidget(QWidget* parent) override;
    const QString& caption() const { return m_caption; }
    bool isVisible() const { return m_visible; }
    int naturalWidth(const QFont& font) const;

private:
    QString m_caption;
    bool m_visible = true;
    bool m_ownerDraw = true;
};

} // namespace crash::ui
