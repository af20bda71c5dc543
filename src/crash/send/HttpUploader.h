#pragma once
// The one place where HTTP uploads and bug trackers join the send procedure. The HTTP code
// registers its uploader here at start-up; while none is registered the HTTP step is skipped.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

namespace crash {
class CrashSettings;
class ProgressAlert;
} // namespace crash

namespace crash::send {

struct HttpUploadRequest
{
    const CrashSettings* settings = nullptr;
    QString reportText;
    QString from;
    QString to;
    QString subject;
    QString body;
    // The report's fields plus MailFrom, MailSubject, MailBody and MailAddr (those not empty).
    QList<std::pair<QString, QString>> additionalFields;
    QStringList files;
    QStringList sendAsNames;
    QStringList fieldNames;
    ProgressAlert* progress = nullptr; // may be null
};

// 0 not delivered, 1 delivered, 2 the user cancelled.
using HttpUploader = std::function<int(const HttpUploadRequest&)>;

// Registration happens once at start-up, before any report is sent.
void SetHttpUploader(HttpUploader uploader);
const HttpUploader& RegisteredHttpUploader();

} // namespace crash::send
