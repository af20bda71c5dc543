#include "crash/core/handler/ReportDelivery.h"

#include "crash/core/report/ReportBuilder.h"
#include "platform/MessageBox.h"

#include <cstdio>

namespace crash {

bool DeliverReport(const SendRequest& request)
{
    if (Services().send)
        return Services().send(request);
    std::fprintf(stderr, "crash reporter: %s\n", NoDeliveryError);
    std::fflush(stderr);
    if (!request.silent)
        platform::ShowMessageBox(QString::fromLatin1(NoDeliveryError), QStringLiteral("Halvorn"),
                                 platform::MsgIcon::Error);
    // With AutoSave the handling saves a report that was not sent; without it, it is saved here.
    if (request.report && !request.report->AutoSave())
        SaveReportFile(*request.report, QString(), true);
    return false;
}

} // namespace crash
