#pragma once
// The services the handling flow needs from the layers above it: presenting a report to the user,
// the please-wait/progress window, the screenshot, printing and delivery. The windows (crash/ui)
// and the delivery (crash/send) register their implementations at start-up; until they do, each
// service answers as if it were switched off, so the core runs and tests on its own.
//
// Registration happens once, before any exception is handled; the functions are then called from
// the handler thread, a completion thread or a background send thread, never concurrently with a
// registration.

#include "crash/core/report/ExceptionReport.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>

namespace crash {

class ProgressAlert;

// How the report is presented (the presentation of the filters: 0 full dialog, 1 assistant, 2 small
// box with Details, 3 small box, 4 nothing). mainThreadAvailable is false for a freeze, a fatal
// fault of the main thread or a blocked process: the presenter must then show the dialog outside
// this process's main thread (a dialog process) and hand the choice back.
struct PresentRequest
{
    std::shared_ptr<ExceptionReport> report;
    int presentation = 0;
    bool mainThreadAvailable = true;
    bool beep = true;
    bool processBlocked = false; // saving and printing would need what the process holds: they only beep
};

// Delivery of a report: its text, the screenshot, and whether to run without any window.
struct SendRequest
{
    std::shared_ptr<ExceptionReport> report;
    QString reportText;
    QImage screenshot;
    bool silent = false;
    bool inBackground = false;
    // Called once when the send has ended, on the thread that ran it (before the send returns
    // unless it went to the background), with whether a transport delivered the report. A hand-off
    // to the desktop's mail program is not a delivery: nobody knows whether the user sends it.
    std::function<void(bool delivered)> finished;
};

struct ReportServices
{
    std::function<UserChoice(const PresentRequest&)> present;
    // A progress window with a title and a text; null when none can be shown.
    std::function<std::unique_ptr<ProgressAlert>(const QString& title, const QString& text)> progress;
    // Captures the screen (or only this program's windows); a null image when it cannot.
    std::function<QImage(bool ownWindowsOnly)> screenshot;
    // True when the report was delivered (or a background delivery was started).
    std::function<bool(const SendRequest&)> send;
    // True when the report was printed; false when cancelled or failed.
    std::function<bool(const std::shared_ptr<ExceptionReport>&)> print;
};

// The process's services; fields left empty mean "not available".
ReportServices& Services();

// The progress window interface of the delivery code and the please-wait box: weighted steps,
// drivable from any thread.
class ProgressAlert
{
public:
    virtual ~ProgressAlert() = default;
    virtual void addStep(const QString& text, qint64 weight) = 0;
    virtual void clearSteps() = 0;
    virtual void show(bool foreground) = 0;
    virtual void close() = 0;
    virtual void setCurrentStep(int step) = 0;
    virtual void stepDone() = 0;
    // Thousandths of the current step, 0 to 1000.
    virtual void setStepPosition(int thousandths) = 0;
    virtual int currentStep() const = 0;
    virtual int stepPosition() const = 0;
};

} // namespace crash
