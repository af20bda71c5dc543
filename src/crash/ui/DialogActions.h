#pragma once
// What the crash dialog and the assistants do for the user's actions. The windows only decide;
// these functions perform: the app wires them to the delivery, the report file and the printer
// (RegisterCrashWindows), tests put recorders in their place.

#include "crash/core/report/ExceptionReport.h"

#include <QPixmap>
#include <functional>
#include <memory>

class QWidget;

namespace crash::ui {

// The action codes the action handlers are fired with.
enum class ActionCode
{
    Send = 0,
    Save = 1,
    Print = 2,
    ShowReport = 9,
    Help = 10,
};

struct DialogActions
{
    using ReportAction = std::function<bool(const std::shared_ptr<ExceptionReport>&, QWidget* parent)>;
    ReportAction send;
    ReportAction save;
    ReportAction print;
    // Fires the registered action handlers; true when one of them handled the action.
    std::function<bool(ActionCode)> fireHandlers;
    // Whether an AutoClose/AutoRestart value makes the automatic rule apply (the exception history
    // of the handler decides values above 1); without it only the value 1 applies.
    std::function<bool(int ruleValue)> autoRuleApplies;
    // The crash reporter's large icon; null shows none.
    QPixmap largeIcon;
    // The process the report is about is blocked (its loader or allocator may be locked): save and
    // print then only beep.
    bool processBlocked = false;
};

} // namespace crash::ui
