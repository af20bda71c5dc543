#include "crash/send/http/HttpUpload.h"

#include "crash/core/report/ReportServices.h"
#include "crash/core/settings/CrashSettings.h"

namespace crash::http {

namespace {

// Every file is one step of the progress window; file bytes move through it in thousandths.
void FollowFileProgress(MultipartForm& form, ProgressAlert* progress)
{
    if (!progress)
        return;
    const int first = progress->currentStep();
    form.setFileProgress([progress, first](int file, int thousandths) {
        progress->setCurrentStep(first + file);
        progress->setStepPosition(thousandths);
    });
}

} // namespace

bool CustomUpload(TWinHttp& http, const UploadRequest& request)
{
    MultipartForm form;
    for (const auto& [name, content] : request.fields)
        form.addField(name, content);
    for (const FormFile& file : request.files)
        form.addFile(file); // a file that cannot be opened is left out
    FollowFileProgress(form, request.progress);

    QList<QByteArray> headers{"Content-Type: " + form.contentType()};
    if (!request.from.isEmpty())
        headers << "From: <" + request.from.toUtf8() + ">";
    const int startStep = request.progress ? request.progress->currentStep() : 0;
    return http.request("POST", QString(), headers, &form, [&] {
        if (request.progress)
            request.progress->setCurrentStep(startStep);
        if (request.progress)
            request.progress->setStepPosition(0);
    });
}

HttpTarget TargetFromSettings(const CrashSettings& settings)
{
    HttpTarget target;
    target.server = settings.HttpServer();
    target.port = settings.HttpPort();
    target.secure = settings.HttpSsl();
    target.web = {settings.HttpAccount(), settings.HttpPassword()};
    target.tracker = {settings.BugTrAccount(), settings.BugTrPassword()};
    return target;
}

bool UploadBugReport(const CrashSettings& settings, const UploadRequest& request)
{
    HttpTarget target = TargetFromSettings(settings);
    if (target.server.trimmed().isEmpty())
        return false;
    const bool tracker = settings.FogBugz() || settings.BugZilla() || settings.Mantis();
    if (tracker && target.server.endsWith(QLatin1Char('/')))
        target.server.chop(1);
    TWinHttp http(target);
    if (settings.FogBugz())
        return FogBugzUpload(http, request);
    if (settings.BugZilla())
        return BugZillaUpload(http, request);
    if (settings.Mantis())
        return MantisUpload(http, request);
    if (settings.UploadViaHttp())
        return CustomUpload(http, request);
    return false;
}

QString MimeTypeForFile(const QString& fileName)
{
    const QString ext = fileName.section(QLatin1Char('.'), -1).toLower();
    if (!fileName.contains(QLatin1Char('.')))
        return QStringLiteral("application/octet-stream");
    if (ext == QLatin1String("txt") || ext == QLatin1String("qbr") || ext == QLatin1String("ini"))
        return QStringLiteral("text/plain");
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    if (ext == QLatin1String("png"))
        return QStringLiteral("image/png");
    if (ext == QLatin1String("zip"))
        return QStringLiteral("application/zip");
    return QStringLiteral("application/octet-stream");
}

} // namespace crash::http
