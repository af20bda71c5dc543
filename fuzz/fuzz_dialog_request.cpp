// Any bytes as what a dialog process reads: the request file and the completed report that follows
// on its input. The readers must neither crash nor hang; a request they accept, written out again,
// reads back the same, and a completed report they take marks the report complete and, made into a
// message again, is taken again with the same text.
#include "FuzzCheck.h"

#include "crash/ui/DialogProcess.h"

#include "crash/core/report/ExceptionReport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using fuzz::check;
using namespace crash::ui;

namespace {

void CheckCompletedReport(const QByteArray& message)
{
    static const auto report = [] {
        auto made = std::make_shared<crash::ExceptionReport>(
            0, crash::ExceptionType::Exception, QStringList{QStringLiteral("EFuzz")}, QStringLiteral("EFuzz"),
            QString(), crash::ExceptionSource::Explicit, true);
        made->header().setAcceptingData(true);
        made->sections().setAcceptingData(true);
        return made;
    }();
    if (!ApplyCompletedReport(message, *report))
        return;
    check(report->isComplete());
    const QString text = report->reportText();
    check(ApplyCompletedReport(CompletedReportMessage(*report), *report));
    check(report->reportText() == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckCompletedReport(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));

    static const QTemporaryDir folder; // private to this user, removed at the end
    const QString input = folder.filePath(QStringLiteral("input.request"));
    const QString again = folder.filePath(QStringLiteral("again.request"));
    {
        QFile file(input);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    ReporterState state;
    const auto request = LoadDialogRequest(input, &state);
    if (!request)
        return 0;
    check(request->report != nullptr);
    check(SaveDialogRequest(*request, again, state));
    ReporterState stateAgain;
    const auto reread = LoadDialogRequest(again, &stateAgain);
    check(reread.has_value());
    const crash::ExceptionReport& first = *request->report;
    const crash::ExceptionReport& second = *reread->report;
    check(reread->presentation == request->presentation && reread->beep == request->beep);
    check(stateAgain.processBlocked == state.processBlocked && stateAgain.history == state.history);
    check(second.exceptionClass() == first.exceptionClass() &&
          second.exceptionMessage() == first.exceptionMessage());
    check(second.source() == first.source() && second.canContinue() == first.canContinue());
    check(second.reportText() == first.reportText());
    check(second.isComplete() == first.isComplete());
    return 0;
}
