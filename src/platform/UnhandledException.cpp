#include "platform/UnhandledException.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

#include <QMutex>

namespace platform {
namespace {
QMutex g_lock;
ApplicationExceptionHandler g_handler;

void showMessage(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        message = e.message();
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown exception.");
    }
    ShowMessageBox(message, {}, MsgIcon::Error);
}
} // namespace

ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler)
{
    QMutexLocker lock(&g_lock);
    std::swap(handler, g_handler);
    return handler;
}

void HandleApplicationException(std::exception_ptr error)
{
    ApplicationExceptionHandler handler;
    {
        QMutexLocker lock(&g_lock);
        handler = g_handler;
    }
    if (handler)
        handler(error);
    else
        showMessage(error);
}

} // namespace platform
