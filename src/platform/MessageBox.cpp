#include "platform/MessageBox.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMutex>
#include <QThread>

namespace platform {
namespace {

QMutex g_handlerLock;
MessageBoxHandler g_handler;

QMessageBox::Icon toQtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonMap
{
    QMessageBox::StandardButton qt;
    MsgResult result;
};

QList<ButtonMap> buttonsOf(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok:
        return {{QMessageBox::Ok, MsgResult::Ok}};
    case MsgButtons::OkCancel:
        return {{QMessageBox::Ok, MsgResult::Ok}, {QMessageBox::Cancel, MsgResult::Cancel}};
    case MsgButtons::YesNo:
        return {{QMessageBox::Yes, MsgResult::Yes}, {QMessageBox::No, MsgResult::No}};
    case MsgButtons::YesNoCancel:
        return {{QMessageBox::Yes, MsgResult::Yes},
                {QMessageBox::No, MsgResult::No},
                {QMessageBox::Cancel, MsgResult::Cancel}};
    case MsgButtons::RetryCancel:
        return {{QMessageBox::Retry, MsgResult::Retry}, {QMessageBox::Cancel, MsgResult::Cancel}};
    case MsgButtons::AbortRetryIgnore:
        return {{QMessageBox::Abort, MsgResult::Abort},
                {QMessageBox::Retry, MsgResult::Retry},
                {QMessageBox::Ignore, MsgResult::Ignore}};
    }
    return {{QMessageBox::Ok, MsgResult::Ok}};
}

MsgResult appendToLog(const QString& logPath, const MessageBoxRequest& request)
{
    QFile log(logPath);
    if (log.open(QIODevice::Append | QIODevice::Text)) {
        QString text = request.text;
        text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        log.write(QStringLiteral("%1|%2|%3\n").arg(request.caption, IconName(request.icon), text).toUtf8());
    }
    return DefaultAnswer(request.buttons);
}

MsgResult showDialog(const MessageBoxRequest& request)
{
    const QString logPath = qEnvironmentVariable("SKINTOOL_MESSAGEBOX_LOG");
    if (!logPath.isEmpty())
        return appendToLog(logPath, request);
    // A box needs the GUI thread and a GUI application; elsewhere nobody could click it.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return DefaultAnswer(request.buttons);

    QMessageBox box(toQtIcon(request.icon), request.caption, request.text);
    const auto map = buttonsOf(request.buttons);
    QMessageBox::StandardButtons set;
    for (const auto& b : map)
        set |= b.qt;
    box.setStandardButtons(set);
    const int clicked = box.exec();
    for (const auto& b : map)
        if (b.qt == clicked)
            return b.result;
    // Closed with Escape or the title bar: Windows answers Cancel where there is one.
    return request.buttons == MsgButtons::Ok ? MsgResult::Ok : MsgResult::Cancel;
}

} // namespace

MsgResult DefaultAnswer(MsgButtons buttons)
{
    return buttonsOf(buttons).first().result;
}

QString IconName(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Information:
        return QStringLiteral("information");
    case MsgIcon::Warning:
        return QStringLiteral("warning");
    case MsgIcon::Error:
        return QStringLiteral("error");
    case MsgIcon::Question:
        return QStringLiteral("question");
    case MsgIcon::None:
        break;
    }
    return QStringLiteral("none");
}

MsgResult ShowMessageBox(const QString& text, const QString& caption, MsgIcon icon, MsgButtons buttons)
{
    MessageBoxRequest request{text, caption, icon, buttons};
    if (request.caption.isEmpty() && QCoreApplication::instance())
        request.caption = QGuiApplication::applicationDisplayName();
    MessageBoxHandler handler;
    {
        QMutexLocker lock(&g_handlerLock);
        handler = g_handler;
    }
    return handler ? handler(request) : showDialog(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    QMutexLocker lock(&g_handlerLock);
    std::swap(handler, g_handler);
    return handler;
}

} // namespace platform
