#include "crash/ui/DialogProcess.h"

#include "crash/core/handler/HandleException.h"
#include "crash/core/report/ReporterWorkFolder.h"
#include "crash/core/report/SendsInProgress.h"
#include "crash/core/settings/DefaultSettings.h"
#include "crash/ui/CrashWindows.h"
#include "platform/ProcessControl.h"
#include "platform/StandardInput.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <cstring>

namespace crash::ui {

namespace {

constexpr quint32 Magic = 0x48444c47;          // "HDLG"
constexpr quint32 CompletedMagic = 0x48444c43; // "HDLC"
constexpr quint32 Version = 2;
// The user decides in the dialog process; this only bounds a process that never ends.
constexpr qint64 LongestDialogMs = 12LL * 60 * 60 * 1000;
// How long the dialog process waits for the completed report; the tracer bounds its steps well
// below this.
constexpr qint64 LongestCompletionMs = 10LL * 60 * 1000;
constexpr qsizetype LargestCompletedReport = 64 * 1024 * 1024;

void WriteFields(QDataStream& out, const ReportFields& fields)
{
    const auto items = fields.items();
    out << quint32(items.size());
    for (const auto& [name, content] : items)
        out << name << content;
}

bool ReadFields(QDataStream& in, ReportFields& fields)
{
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString name, content;
        in >> name >> content;
        fields.setField(name, content);
    }
    return in.status() == QDataStream::Ok;
}

// Reads one field list as WriteFields wrote it, without touching a report.
std::optional<FieldList> ReadFieldList(QDataStream& in)
{
    ReportFields fields;
    fields.setAcceptingData(true);
    if (!ReadFields(in, fields))
        return std::nullopt;
    return fields.items();
}

std::optional<QString> ValueIn(const FieldList& list, const QString& name)
{
    for (const auto& [itemName, content] : list)
        if (itemName == name)
            return content;
    return std::nullopt;
}

// The completed fields, and over them what this process changed since it was handed the first
// text (an assistant's fields), which the reporting process never saw.
void MergeCompleted(ReportFields& fields, const FieldList& handedOver, const FieldList& completed)
{
    const FieldList here = fields.items();
    fields.clear();
    for (const auto& [name, content] : completed)
        fields.setField(name, content);
    for (const auto& [name, content] : here)
        if (ValueIn(handedOver, name) != content)
            fields.setField(name, content);
    for (const auto& [name, content] : handedOver)
        if (!ValueIn(here, name))
            fields.setField(name, QString());
}

// Dialog process side: the report's completion is the completed report arriving from the parent,
// read on the completion thread, so that the dialog's actions wait for it as in the parent.
void AwaitCompletedReport(ExceptionReport& report)
{
    ExceptionReport* target = &report;
    const HandedOverReport handedOver{report.header().items(), report.sections().items()};
    report.setCompletionWork([target, handedOver] {
        const QDeadlineTimer deadline(LongestCompletionMs);
        // The report's end cancels the wait within a slice.
        const auto message = platform::ReadStandardInputToEnd(LargestCompletedReport, 200, [&] {
            return !target->completionCancelled() && !deadline.hasExpired();
        });
        if (message && !message->isEmpty() && !ApplyCompletedReport(*message, *target, handedOver))
            std::fprintf(stderr, "crash dialog: the completed report cannot be read\n");
    });
    report.startCompletion(true);
}

const char* ChoiceName(UserChoice choice)
{
    switch (choice) {
    case UserChoice::Continue:
        return "continue";
    case UserChoice::Restart:
        return "restart";
    case UserChoice::Close:
        return "close";
    case UserChoice::None:
        break;
    }
    return "none";
}

UserChoice ChoiceFromOutput(const QByteArray& output)
{
    UserChoice choice = UserChoice::None;
    for (const QByteArray& line : output.split('\n')) {
        const QByteArray word = line.trimmed();
        if (word == "choice continue")
            choice = UserChoice::Continue;
        else if (word == "choice restart")
            choice = UserChoice::Restart;
        else if (word == "choice close")
            choice = UserChoice::Close;
    }
    return choice;
}

} // namespace

bool SaveDialogRequest(const PresentRequest& request, const QString& fileName, const ReporterState& state)
{
    const ExceptionReport& report = *request.report;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QDataStream out(&file);
    out.setVersion(QDataStream::Qt_6_4);
    out << Magic << Version << qint32(request.presentation) << request.beep << qint32(report.type())
        << report.exceptionClass() << report.exceptionMessage() << qint32(report.source())
        << report.canContinue() << state.processBlocked;
    for (const std::uint64_t time : state.history)
        out << quint64(time);
    // Every setting as this exception sees it, so the per-exception decisions travel too.
    quint32 count = 0;
    for (const DefaultSetting& setting : DefaultSettings())
        if (setting.kind != SettingsKind::Text || report.hasKey(setting.name))
            ++count;
    out << count;
    for (const DefaultSetting& setting : DefaultSettings()) {
        if (setting.kind == SettingsKind::Text && !report.hasKey(setting.name))
            continue;
        out << QByteArray(setting.name) << quint8(setting.kind);
        switch (setting.kind) {
        case SettingsKind::Flag:
            out << report.getFlag(setting.name);
            break;
        case SettingsKind::Number:
            out << qint32(report.getNumber(setting.name));
            break;
        case SettingsKind::Text:
            out << report.getRawText(setting.name);
            break;
        }
    }
    WriteFields(out, report.header());
    WriteFields(out, report.sections());
    QByteArray png;
    if (!report.screenshot().isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        report.screenshot().save(&buffer, "PNG");
    }
    out << png << report.isComplete();
    return out.status() == QDataStream::Ok && file.flush();
}

std::optional<PresentRequest> LoadDialogRequest(const QString& fileName, ReporterState* state)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 magic = 0, version = 0;
    qint32 presentation = 0, type = 0, source = 0;
    bool beep = false, canContinue = false;
    ReporterState reporter;
    QString className, message;
    in >> magic >> version;
    if (magic != Magic || version != Version)
        return std::nullopt;
    in >> presentation >> beep >> type >> className >> message >> source >> canContinue >>
        reporter.processBlocked;
    for (std::uint64_t& time : reporter.history) {
        quint64 value = 0;
        in >> value;
        time = value;
    }
    if (in.status() != QDataStream::Ok || type < 0 || type > 2)
        return std::nullopt;
    auto report = std::make_shared<ExceptionReport>(0, ExceptionType(type), QStringList{className}, className,
                                                    message, ExceptionSource(source), canContinue);
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QByteArray name;
        quint8 kind = 0;
        in >> name >> kind;
        const std::string key = name.toStdString();
        if (!FindDefaultSetting(key)) {
            in.setStatus(QDataStream::ReadCorruptData);
            break;
        }
        if (kind == quint8(SettingsKind::Flag)) {
            bool value = false;
            in >> value;
            if (report->getFlag(key) != value)
                report->setFlag(key, value);
        } else if (kind == quint8(SettingsKind::Number)) {
            qint32 value = 0;
            in >> value;
            if (report->getNumber(key) != value)
                report->setNumber(key, value);
        } else {
            QString value;
            in >> value;
            if (report->getRawText(key) != value)
                report->setText(key, value);
        }
    }
    report->header().setAcceptingData(true);
    report->sections().setAcceptingData(true);
    report->beginUpdate();
    const bool fieldsRead = ReadFields(in, report->header()) && ReadFields(in, report->sections());
    report->endUpdate();
    QByteArray png;
    bool complete = false;
    in >> png >> complete;
    if (!fieldsRead || in.status() != QDataStream::Ok)
        return std::nullopt;
    if (!png.isEmpty())
        report->setScreenshot(QImage::fromData(png, "PNG"));
    if (complete)
        report->markComplete();
    PresentRequest request;
    request.report = report;
    request.presentation = presentation;
    request.beep = beep;
    if (state)
        *state = reporter;
    return request;
}

QByteArray CompletedReportMessage(const ExceptionReport& report)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << CompletedMagic << Version;
    WriteFields(out, report.header());
    WriteFields(out, report.sections());
    return message;
}

bool ApplyCompletedReport(const QByteArray& message, ExceptionReport& report,
                          const HandedOverReport& handedOver)
{
    QDataStream in(message);
    in.setVersion(QDataStream::Qt_6_4);
    quint32 magic = 0, version = 0;
    in >> magic >> version;
    if (magic != CompletedMagic || version != Version)
        return false;
    const auto header = ReadFieldList(in);
    const auto sections = header ? ReadFieldList(in) : std::nullopt;
    if (!sections || in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    report.beginUpdate();
    MergeCompleted(report.header(), handedOver.header, *header);
    MergeCompleted(report.sections(), handedOver.sections, *sections);
    report.endUpdate();
    report.markComplete();
    return true;
}

bool ApplyCompletedReport(const QByteArray& message, ExceptionReport& report)
{
    return ApplyCompletedReport(message, report, {report.header().items(), report.sections().items()});
}

UserChoice PresentInDialogProcess(const PresentRequest& request)
{
    // The request lies in a folder private to this user (the shared temporary folder is not),
    // made afresh and removed with it when the dialog is done.
    const auto work = ReporterWorkFolder::open();
    const auto folder = work ? work->createTaskFolder(QStringLiteral("dialog-")) : nullptr;
    const QString fileName = folder ? folder->writeFile(QStringLiteral("request"), QByteArray()) : QString();
    if (fileName.isEmpty() ||
        !SaveDialogRequest(request, fileName, {request.processBlocked, History().times()}))
        return UserChoice::None;
    QProcess dialog;
    dialog.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // From its first line on, before anything of it runs.
    dialog.setChildProcessModifier([] { platform::SurviveClosedOutput(); });
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(ReportingProcessVariable),
                       QString::number(QCoreApplication::applicationPid()));
    dialog.setProcessEnvironment(environment);
    dialog.start(QCoreApplication::applicationFilePath(),
                 {QString::fromLatin1(DialogProcessArgument), fileName});
    if (!dialog.waitForStarted(10000))
        return UserChoice::None;
    // A report completed before the file was written needs no second message.
    bool completionHandedOver = request.report->isComplete();
    if (completionHandedOver)
        dialog.closeWriteChannel();
    QByteArray output;
    const QDeadlineTimer deadline(LongestDialogMs);
    // When the program ends meanwhile, the answer would come too late: the report is finished
    // without it.
    while (dialog.state() != QProcess::NotRunning && !deadline.hasExpired() && !ProgramIsEnding()) {
        if (!completionHandedOver && request.report->isComplete()) {
            dialog.write(CompletedReportMessage(*request.report));
            dialog.closeWriteChannel(); // the end of the message; the wait below writes it out
            completionHandedOver = true;
        }
        dialog.waitForFinished(completionHandedOver ? 500 : 100);
        output += dialog.readAllStandardOutput();
    }
    if (dialog.state() != QProcess::NotRunning) {
        dialog.kill();
        dialog.waitForFinished(5000);
    }
    output += dialog.readAllStandardOutput();
    return ChoiceFromOutput(output);
}

bool IsDialogProcessStart(int argc, char** argv)
{
    return argc == 3 && std::strcmp(argv[1], DialogProcessArgument) == 0;
}

std::optional<int> RunDialogProcessIfAsked(int argc, char** argv, const DialogActions& actions)
{
    if (!IsDialogProcessStart(argc, argv))
        return std::nullopt;
    // A dialog whose program has ended waits for an answer nobody reads.
    platform::EndWithStartingProcess(std::uint32_t(qEnvironmentVariableIntValue(ReportingProcessVariable)));
    ReporterState reporter;
    auto request = LoadDialogRequest(QString::fromLocal8Bit(argv[2]), &reporter);
    if (!request) {
        std::fprintf(stderr, "crash dialog: the report file cannot be read\n");
        return 2;
    }
    request->mainThreadAvailable = true;
    if (!request->report->isComplete())
        AwaitCompletedReport(*request->report);
    DialogActions shown = actions;
    shown.processBlocked = reporter.processBlocked;
    shown.autoRuleApplies = [history = reporter.history](int value) {
        ExceptionHistory reporterHistory;
        reporterHistory.assign(history);
        return reporterHistory.autoButtonRule(value, std::uint64_t(QDateTime::currentSecsSinceEpoch()));
    };
    const UserChoice choice = PresentHere(*request, shown);
    // A send still running (a background send) ends before the answer: once the reporting
    // process has it, it may end, and this process ends with it.
    WaitForSendsAtProgramEnd();
    std::printf("choice %s\n", ChoiceName(choice));
    std::fflush(stdout);
    return 0;
}

} // namespace crash::ui
