#pragma once
// Modal message boxes, the one seam through which every part of the program talks to the user
// with a fixed text. Tests install a handler that records each box and answers it; setting
// SKINTOOL_MESSAGEBOX_LOG to a file name makes the default handler do the same for a whole
// process (each box appended as one line, answered with its first button), so end-to-end tests
// can drive the real executable.

#include <QString>
#include <functional>

namespace platform {

enum class MsgIcon
{
    None,
    Information,
    Warning,
    Error,
    Question
};
enum class MsgButtons
{
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel,
    RetryCancel,
    AbortRetryIgnore
};
// Values as the Windows dialog identifiers, so code ported from there compares the same numbers.
enum class MsgResult
{
    Ok = 1,
    Cancel = 2,
    Abort = 3,
    Retry = 4,
    Ignore = 5,
    Yes = 6,
    No = 7
};

struct MessageBoxRequest
{
    QString text;
    QString caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

using MessageBoxHandler = std::function<MsgResult(const MessageBoxRequest&)>;

// An empty caption is replaced by the application title.
MsgResult ShowMessageBox(const QString& text, const QString& caption = {}, MsgIcon icon = MsgIcon::None,
                         MsgButtons buttons = MsgButtons::Ok);

// Returns the handler in force before; an empty handler restores the real dialogs.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The first button of a set, the answer given when nobody is there to click.
MsgResult DefaultAnswer(MsgButtons buttons);
QString IconName(MsgIcon icon);

} // namespace platform
