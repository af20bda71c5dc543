#pragma once
// The framework's picture: holds at most one graphic and tells its owner, through one change
// handler, whenever the graphic is replaced.

#include "controls/TGraphic.h"

#include <QObject>
#include <functional>
#include <memory>

namespace controls {

class TPicture : public QObject
{
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(QObject* sender)>;

    explicit TPicture(QObject* parent = nullptr);
    ~TPicture() override;

    TGraphic* Graphic() const { return m_graphic.get(); }
    // Takes a copy of `graphic` (PNG images share their data with the original); null empties.
    void SetGraphic(const TGraphic* graphic);
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    bool HasGraphic() const { return m_graphic != nullptr; }
    int Width() const { return m_graphic ? m_graphic->Width() : 0; }
    int Height() const { return m_graphic ? m_graphic->Height() : 0; }

    void Assign(const TPicture* source);

    // Picks the graphic kind by content: PNG, Windows bitmap, or anything else Qt reads.
    // Throws platform::Exception when the data is no picture.
    void LoadFromData(const QByteArray& data);
    void LoadFromFile(const QString& path);

    void SetOnChange(TNotifyEvent handler) { m_onChange = std::move(handler); }
    void Changed();

private:
    std::unique_ptr<TGraphic> m_graphic;
    TNotifyEvent m_onChange;
};

} // namespace controls
