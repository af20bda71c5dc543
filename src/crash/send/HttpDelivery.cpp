#include "crash/send/HttpDelivery.h"

#include "crash/core/settings/CrashSettings.h"
#include "crash/send/MailFields.h"
#include "crash/send/http/HttpUpload.h"

namespace crash::send {

int UploadOverHttp(const HttpUploadRequest& request)
{
    if (!request.settings)
        return 0;
    const CrashSettings& settings = *request.settings;
    const QString& text = request.reportText;

    http::UploadRequest upload;
    upload.from = request.from;
    upload.fields = request.additionalFields;
    for (qsizetype i = 0; i < request.files.size(); ++i)
        upload.files << http::FormFile{request.files[i], request.sendAsNames.value(i), request.fieldNames.value(i)};
    upload.title = ExpandSettingForReport(settings, "BugTrTitle", text);
    upload.description = ExpandSettingForReport(settings, "BugTrDescr", text);
    upload.project = settings.BugTrProject();
    upload.area = settings.BugTrArea();
    upload.assignTo = settings.BugTrAssignTo();
    upload.computerName = ReportHeaderValue(text, QStringLiteral("computer name"));
    upload.operatingSystem = ReportHeaderValue(text, QStringLiteral("operating system"));
    upload.version = ReportHeaderValue(text, QStringLiteral("version"));
    upload.callstackCrc = ReportHeaderValue(text, QStringLiteral("callstack crc"));
    upload.progress = request.progress;
    return http::UploadBugReport(settings, upload) ? 1 : 0;
}

} // namespace crash::send
