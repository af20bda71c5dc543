#pragma once
// Files the settings ask to be sent with every bug report (the AddAttachs key).

#include <QList>
#include <QString>
#include <mutex>

namespace crash {

class CrashSettings;

struct ReportAttachment
{
    QString file;   // the file to attach
    QString sendAs; // name it is sent under
    QString zip;    // zip archive it is packed into; empty = sent as it is
    QString field;  // form field name for uploads
};

class ReportAttachments
{
public:
    explicit ReportAttachments(const CrashSettings* owner = nullptr) : m_owner(owner) {}

    void add(const ReportAttachment& attachment);
    QList<ReportAttachment> items() const;
    int count() const;

    // The settings object this list was built for; null once that object is gone.
    const CrashSettings* owner() const;
    void clearOwner();

private:
    mutable std::mutex m_lock;
    QList<ReportAttachment> m_items;
    const CrashSettings* m_owner;
};

} // namespace crash
