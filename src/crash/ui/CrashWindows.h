#pragma once
// The crash reporter's windows as the handling flow sees them: RegisterCrashWindows puts the
// dialog, the progress window, the screenshot and printing into crash::Services().

#include "crash/core/report/ReportServices.h"
#include "crash/ui/DialogActions.h"

namespace crash::ui {

// Once at start-up, before any exception is handled.
void RegisterCrashWindows();

// The actions the registered windows use: delivery through Services().send, the report file,
// printing, each after its assistant and between the registered action handlers.
DialogActions DefaultDialogActions();
// Those, and the dialog's own handler codes and the automatic-button rule with this process's
// exception history, for a dialog the handling flow presents here.
DialogActions HandlingFlowDialogActions(const std::shared_ptr<ExceptionReport>& report);

// Shows the presentation on the calling thread, which must be the GUI thread.
UserChoice PresentHere(const PresentRequest& request, const DialogActions& actions);

// From any thread: through the GUI thread while it runs its loop, else in a dialog process.
UserChoice Present(const PresentRequest& request, const DialogActions& actions);

} // namespace crash::ui
