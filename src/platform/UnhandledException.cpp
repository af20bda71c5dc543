#include "platform/UnhandledException.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QMutex>

namespace platform {
namespace {
QMutex g_lock;
ApplicationExceptionHandler g_handler;
thread_local int t_frameDepth = 0;

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

ApplicationExceptionHandler CurrentHandler()
{
    QMutexLocker lock(&g_lock);
    return g_handler;
}
} // namespace

ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler)
{
    QMutexLocker lock(&g_lock);
    std::swap(handler, g_handler);
    return handler;
}

void HandleApplicationException(std::exception_ptr error, const ExceptionOrigin& origin)
{
    if (ApplicationExceptionHandler handler = CurrentHandler())
        handler(error, origin);
    else
        showMessage(error);
}

void ShowException(std::exception_ptr error)
{
    ExceptionOrigin origin;
    origin.kind = QCoreApplication::instance() ? ExceptionOrigin::Kind::ApplicationShow
                                               : ExceptionOrigin::Kind::RuntimeShow;
    HandleApplicationException(error, origin);
}

ExceptionFrame::ExceptionFrame() noexcept
{
    ++t_frameDepth;
}

ExceptionFrame::~ExceptionFrame()
{
    --t_frameDepth;
}

bool ExceptionFrame::active() noexcept
{
    return t_frameDepth > 0;
}

} // namespace platform
