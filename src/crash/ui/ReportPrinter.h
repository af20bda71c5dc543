#pragma once
// Printing the bug report: the report text as the report file holds it (header, then each
// section), in a fixed-width font, long lines wrapped, a page number at the foot of every page.

#include "crash/core/report/ExceptionReport.h"

#include <QString>
#include <memory>

class QPrinter;
class QWidget;

namespace crash::ui {

class ReportPrinter
{
public:
    // Prints `text` on `printer`; false when the printer could not be started or failed.
    static bool print(const QString& text, QPrinter& printer);
    // The print action: the print assistant, the system's print dialog owned by `parent`, then the
    // complete report. False when cancelled or failed; a failure is told in a message box.
    static bool printWithDialog(const std::shared_ptr<ExceptionReport>& report, QWidget* parent);
};

} // namespace crash::ui
