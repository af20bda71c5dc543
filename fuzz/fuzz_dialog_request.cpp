// Any bytes as the request file a dialog process reads: the reader must neither crash nor hang, and
// a request it accepts, written out again, reads back the same.
#include "crash/ui/DialogProcess.h"

#include "crash/core/report/ExceptionReport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace crash::ui;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
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
