#pragma once
// Uploading a bug report over HTTP: to the makers' own form script, or as a new entry of a bug
// tracker (FogBugz, BugZilla, Mantis). The send procedure calls UploadBugReport first; when it
// returns false, the mail transports take over.

#include "crash/send/http/MultipartForm.h"
#include "crash/send/http/TWinHttp.h"

#include <QList>
#include <QString>
#include <functional>
#include <utility>

namespace crash {
class CrashSettings;
class ProgressAlert;
} // namespace crash

namespace crash::http {

struct UploadRequest
{
    QString from;
    QList<std::pair<QString, QString>> fields; // the additional fields, in order
    QList<FormFile> files;
    // For the bug trackers.
    QString title;
    QString description;
    QString project;
    QString area;
    QString assignTo;
    QString computerName;
    QString operatingSystem;
    QString version;
    QString callstackCrc;
    // Weighted steps: one per file for the form upload; moved through by the tracker uploads.
    ProgressAlert* progress = nullptr;
};

bool CustomUpload(TWinHttp& http, const UploadRequest& request);
bool FogBugzUpload(TWinHttp& http, const UploadRequest& request);
bool BugZillaUpload(TWinHttp& http, const UploadRequest& request);
bool MantisUpload(TWinHttp& http, const UploadRequest& request);

// The target of the settings: HttpServer (a trailing "/" dropped for the trackers), HttpPort,
// HttpSsl, the web and bug-tracker accounts.
HttpTarget TargetFromSettings(const CrashSettings& settings);

// Picks the upload the settings ask for (FogBugz, then BugZilla, then Mantis, else the form
// script when UploadViaHttp) and runs it. False when none is configured or it failed.
bool UploadBugReport(const CrashSettings& settings, const UploadRequest& request);

// "text/plain", "image/png", ... by the file's extension, as in mails.
QString MimeTypeForFile(const QString& fileName);

} // namespace crash::http
