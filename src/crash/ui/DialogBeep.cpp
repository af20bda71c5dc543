#include "crash/ui/DialogBeep.h"

#include <QApplication>
#include <mutex>

namespace crash::ui {

namespace {

std::mutex g_lock;
std::function<void()> g_handler;

} // namespace

void DialogBeep()
{
    std::function<void()> handler;
    {
        std::lock_guard guard(g_lock);
        handler = g_handler;
    }
    if (handler)
        handler();
    else if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        QApplication::beep();
}

std::function<void()> SetDialogBeepHandler(std::function<void()> handler)
{
    std::lock_guard guard(g_lock);
    std::swap(g_handler, handler);
    return handler;
}

} // namespace crash::ui
