#pragma once
// Printing the bug report: the report text as the report file holds it (header, then each
// section), in a fixed-width font, long lines wrapped, "page N of M" at the foot of every page,
// with the page range, page order and copies chosen in the print dialog.
//
// The print action runs on the GUI thread (the print assistant, then the system's print dialog);
// the print service of the handling flow may call from any thread and hands the job to the GUI
// thread. A GUI thread that does not take the job on in time is stuck (a blocked process): the
// service then only beeps, as saving does. A printer error is told in a message box; the report
// stays as it was, so nothing is lost.

#include "crash/core/report/ExceptionReport.h"

#include <QString>
#include <chrono>
#include <memory>

class QPrinter;
class QWidget;

namespace crash::ui {

class ReportPrinter
{
public:
    static constexpr std::chrono::milliseconds GuiAnswerTimeout{1500};

    // Prints `text` on `printer`; false when the printer could not be started or failed.
    static bool print(const QString& text, QPrinter& printer);
    // Prints the complete report on a printer already set up; a failure is told in a message box.
    static bool printReport(const ExceptionReport& report, QPrinter& printer);
    // The print action: the print assistant, the system's print dialog owned by `parent`, then
    // printReport. False when cancelled or failed.
    static bool printWithDialog(const std::shared_ptr<ExceptionReport>& report, QWidget* parent);
    // The print service, from any thread: printWithDialog on the GUI thread, owned by the active
    // window. False with a beep when the GUI thread does not take the job on within the timeout.
    static bool printFromAnyThread(const std::shared_ptr<ExceptionReport>& report,
                                   std::chrono::milliseconds guiAnswerTimeout = GuiAnswerTimeout);
};

} // namespace crash::ui
