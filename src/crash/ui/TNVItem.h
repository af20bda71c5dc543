#pragma once
// One item of an assistant form: a button, label, edit, check box or image, configured from the
// form stream's properties and shown as a widget when the form shows. Items form a circular list
// in stream order (the three standard buttons first).

#include <QString>
#include <QVariant>
#include <functional>

class QWidget;

namespace crash::ui {

class TNVItem
{
public:
    enum class Kind
    {
        Button,
        Label,
        Edit,
        CheckBox,
        Image
    };

    TNVItem(Kind kind, QString name) : m_kind(kind), m_name(std::move(name)) {}
    virtual ~TNVItem() = default;
    TNVItem(const TNVItem&) = delete;
    TNVItem& operator=(const TNVItem&) = delete;

    Kind kind() const { return m_kind; }
    const QString& name() const { return m_name; }
    int index = 0;
    TNVItem* previous = nullptr;
    TNVItem* next = nullptr;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isForceDisabled() const { return m_forceDisabled; }
    void setForceDisabled(bool disabled);
    int spacing() const { return m_spacing; }

    // A stream property; names the item does not have are ignored.
    virtual void applyProperty(const QString& name, const QVariant& value);
    // The item's widget on the form's window; created when the form shows.
    virtual QWidget* createWidget(QWidget* parent) = 0;
    QWidget* widget() const { return m_widget; }
    void forgetWidget() { m_widget = nullptr; }
    virtual int heightFor(int width) const;
    // Whether the form's Continue button may be used with the item as it is.
    virtual bool allowsContinue() const { return true; }
    virtual bool takesFocus() const { return m_kind != Kind::Label; }

    // The item's events (click, change) for the form's action handlers.
    std::function<void(TNVItem*)> onEvent;

protected:
    void adopt(QWidget* widget);
    void updateEnabled();

private:
    Kind m_kind;
    QString m_name;
    bool m_enabled = true;
    bool m_forceDisabled = false;
    int m_spacing = 0;
    QWidget* m_widget = nullptr;
};

} // namespace crash::ui
