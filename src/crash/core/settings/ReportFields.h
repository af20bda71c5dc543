#pragma once
// An ordered list of named texts: the bug report's header and sections, the additional fields of
// the settings and the assistants' form cache. Safe to use from several threads.

#include <QList>
#include <QString>
#include <functional>
#include <mutex>
#include <utility>

namespace crash {

class CrashSettings;

class ReportFields
{
public:
    explicit ReportFields(const CrashSettings* owner = nullptr);

    // Until data is accepted, setField does nothing.
    void setAcceptingData(bool accepting);
    bool acceptingData() const;

    // Where new names go: before this position; 0 or less appends. Inserting at or before it moves
    // it on by one, removing before it moves it back, so it keeps pointing at the same field.
    void setAddIndex(int index);
    int addIndex() const;

    // Trims `content`; an empty content removes the field, a new name is inserted at the add index,
    // an existing one is updated where it is.
    void setField(const QString& name, const QString& content);
    QString field(const QString& name) const;
    bool contains(const QString& name) const;

    int count() const;
    QList<std::pair<QString, QString>> items() const;
    void clear();

    // Called after every change, outside the list's lock.
    void setChangeHandler(std::function<void()> handler);

    // The settings object this list was built for; null once that object is gone.
    const CrashSettings* owner() const;
    void clearOwner();

private:
    int indexOfLocked(const QString& name) const;
    void changed();

    mutable std::mutex m_lock;
    QList<std::pair<QString, QString>> m_items;
    bool m_accepting = false;
    int m_addIndex = 0;
    std::function<void()> m_onChange;
    const CrashSettings* m_owner;
};

} // namespace crash
