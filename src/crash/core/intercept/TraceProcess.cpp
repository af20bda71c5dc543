// qelTraceProcess: a report of the whole process on demand, for a debugger or another tool
// (gdb -p PID -batch -ex 'call qelTraceProcess(65536)'). The caller creates the shared section
// "qelTraceProcessMap" first and reads the zero-terminated UTF-8 report from it afterwards.
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/report/ReportBuilder.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/FaultSignals.h"
#include "platform/ProcessControl.h"
#include "platform/SharedMemory.h"

#include <QClipboard>
#include <QGuiApplication>
#include <cstring>

namespace {

// The calling thread carries the trace's name while it runs (so the report titles it so), and gets
// its own name back afterwards.
class TraceThreadName
{
public:
    TraceThreadName() : m_registry(crash::ThreadRegistry::instance()), m_id(platform::CurrentKernelThreadId())
    {
        if (!m_registry)
            return;
        crash::ThreadInfo info;
        if (m_registry->find(m_id, info) == crash::ThreadRegistry::Lookup::Found)
            m_previous = info.name;
        m_registry->setName(m_id, QString::fromLatin1(crash::TraceProcessThreadName));
    }
    ~TraceThreadName()
    {
        if (m_registry)
            m_registry->setName(m_id, m_previous);
    }

private:
    crash::ThreadRegistry* m_registry;
    std::int64_t m_id;
    QString m_previous;
};

} // namespace

extern "C" __attribute__((visibility("default"), used)) std::int32_t qelTraceProcess(std::int32_t size)
{
    using namespace crash;
    try {
        TraceThreadName name;
        auto report = std::make_shared<ExceptionReport>(0, ExceptionType::Freeze, QStringList{}, QString(), QString(),
                                                        ExceptionSource::Explicit, true);
        report->crashedThread = platform::CurrentKernelThreadId();
        ReportRequest request;
        request.crashed.threadId = report->crashedThread;
        request.listThreads = true;
        request.wholeProcess = true;
        BuildReport(*report, request);
        CompleteReport(*report);
        const QByteArray text = report->reportText(true).toUtf8();
        if (size < 1) {
            const QString unicode = QString::fromUtf8(text);
            MainThreadBridge::post([unicode] {
                if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
                    gui->clipboard()->setText(unicode);
            });
            return 0;
        }
        auto section = platform::SharedMemory::open(QStringLiteral("qelTraceProcessMap"));
        if (!section || section->size() == 0)
            return 0;
        const std::size_t room = std::min<std::size_t>(static_cast<std::size_t>(size), section->size()) - 1;
        const std::size_t length = std::min<std::size_t>(room, static_cast<std::size_t>(text.size()));
        std::memcpy(section->data(), text.constData(), length);
        static_cast<char*>(section->data())[length] = '\0';
    } catch (...) {
        // Called from outside: nothing may escape.
    }
    return 0;
}
