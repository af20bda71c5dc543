#pragma once
// The exception dialog in a process of its own, for when this process's main thread cannot run it
// (a freeze, a fatal fault of the main thread, a blocked process).
//
// The waiting thread writes the report (header, sections, screenshot, the exception's settings) to
// a private file and starts this same executable with a hidden argument naming it. That process
// shows the dialog, saves and sends from there, and prints the user's choice on its standard
// output, which the waiting thread reads through the pipe. The report is usually still the first
// text then: the completed one follows on the dialog process's standard input, and its save, send
// and print wait for it as they do in this process. A start with an argument runs beside
// the first instance, so single-instance is no obstacle.

#include "crash/core/handler/ExceptionHistory.h"
#include "crash/core/report/ReportServices.h"
#include "crash/ui/DialogActions.h"

#include <QString>
#include <optional>

namespace crash::ui {

inline constexpr char DialogProcessArgument[] = "--halvorn-dialog-process";
// The reporting process's id, handed to the dialog process, which ends when that process does.
inline constexpr char ReportingProcessVariable[] = "HALVORN_REPORTING_PROCESS";

// What the dialog process decides with besides the report: whether the reporting process is
// blocked (save and print only beep) and its exception history (the automatic-button rule).
struct ReporterState
{
    bool processBlocked = false;
    ExceptionHistory::Slots history{};
};

// Parent side: shows the presentation in a dialog process and returns its choice; None when the
// process could not be started or ended without one. This process's exception history goes along.
UserChoice PresentInDialogProcess(const PresentRequest& request);

// Dialog process side: when the arguments ask for it, shows the dialog with `actions` (a
// QApplication must exist), prints the choice and returns the exit code; none otherwise.
std::optional<int> RunDialogProcessIfAsked(int argc, char** argv, const DialogActions& actions);
bool IsDialogProcessStart(int argc, char** argv);

// The completed report for a dialog process that was handed the first text: the parent writes it
// to the dialog process's standard input once completion has run, and the dialog process takes it
// into its report, whose change callbacks then update the dialog.
QByteArray CompletedReportMessage(const ExceptionReport& report);

using FieldList = QList<std::pair<QString, QString>>;
// The report's fields as the dialog process was handed them.
struct HandedOverReport
{
    FieldList header;
    FieldList sections;
};
// What the dialog process changed since it was handed the report (an assistant's fields) stays.
// False for a damaged message, which leaves the report as it was.
bool ApplyCompletedReport(const QByteArray& message, ExceptionReport& report,
                          const HandedOverReport& handedOver);
// The same for a report that was not changed since it was handed over.
bool ApplyCompletedReport(const QByteArray& message, ExceptionReport& report);

// The request as the file carries it.
bool SaveDialogRequest(const PresentRequest& request, const QString& fileName,
                       const ReporterState& state = {});
std::optional<PresentRequest> LoadDialogRequest(const QString& fileName, ReporterState* state = nullptr);

} // namespace crash::ui
