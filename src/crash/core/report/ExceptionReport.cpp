#include "crash/core/report/ExceptionReport.h"

#include "crash/core/report/ReportFormat.h"
#include "crash/core/report/ReportServices.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>
#include <chrono>

namespace crash {

namespace {

std::atomic<int> g_reportCount{0};

// A reader waits this long at most for a completion running elsewhere; the tracer bounds each of
// its steps, so this only guards against a completion that hangs outright.
constexpr auto CompletionWaitLimit = std::chrono::seconds(120);

QString SectionTitle(const QString& name)
{
    return name.contains(QLatin1Char(':')) ? name : name + QLatin1Char(':');
}

} // namespace

QString LayoutReportText(const ReportFields& header, const ReportFields& sections)
{
    const auto headerItems = header.items();
    qsizetype width = 0;
    for (const auto& [name, content] : headerItems)
        width = std::max(width, name.size());

    QString text;
    for (const auto& [name, content] : headerItems) {
        if (!text.isEmpty())
            text += QLatin1String("\r\n");
        text += name.leftJustified(width + 1) + QLatin1String(": ") + OneLine(content);
    }
    static const QRegularExpression& lineBreak = *new QRegularExpression(QStringLiteral("\r\n|\r|\n"));
    for (const auto& [name, content] : sections.items()) {
        text += QLatin1String("\r\n\r\n") + SectionTitle(name);
        for (QString line : content.split(lineBreak)) {
            while (!line.isEmpty() && line.back() == QLatin1Char(' '))
                line.chop(1);
            text += QLatin1String("\r\n") + (line.isEmpty() ? QStringLiteral(".") : line);
        }
    }
    return text;
}

ExceptionReport::ExceptionReport(platform::ModuleHandle governingModule, ExceptionType type,
                                 QStringList classChain, QString className, QString message,
                                 ExceptionSource source, bool canContinue)
    : ExceptionSettings(governingModule, type, std::move(classChain), std::move(className),
                        std::move(message)),
      m_source(source), m_canContinue(canContinue), m_created(QDateTime::currentDateTime()),
      m_header(std::make_shared<ReportFields>(this)), m_sections(std::make_shared<ReportFields>(this)),
      m_number(++g_reportCount)
{
    m_header->setChangeHandler([this] { fieldsChanged(); });
    m_sections->setChangeHandler([this] { fieldsChanged(); });
    setDetailsFields(m_header);
}

ExceptionReport::~ExceptionReport()
{
    m_cancel = true;
    if (m_completionThread.joinable()) {
        // The completion thread may drop the last reference itself (a callback's copy).
        if (m_completionThread.get_id() == std::this_thread::get_id())
            m_completionThread.detach();
        else
            m_completionThread.join();
    }
    m_header->setChangeHandler({});
    m_sections->setChangeHandler({});
    m_header->clearOwner();
    m_sections->clearOwner();
}

QString ExceptionReport::reportText(bool mustBeComplete) const
{
    if (mustBeComplete)
        waitForCompletion();
    std::lock_guard lock(m_lock);
    if (!m_textValid) {
        m_text = LayoutReportText(*m_header, *m_sections);
        m_textValid = true;
    }
    return m_text;
}

void ExceptionReport::setReportText(const QString& text)
{
    {
        std::lock_guard lock(m_lock);
        m_text = text;
        m_textValid = true;
        m_textOverridden = true;
    }
    notify();
}

bool ExceptionReport::isComplete() const
{
    std::lock_guard lock(m_lock);
    return m_complete;
}

void ExceptionReport::markComplete()
{
    std::function<void(ExceptionReport&)> phaseFour;
    bool toPhaseFour = false;
    {
        std::lock_guard lock(m_lock);
        if (m_complete)
            return;
        m_complete = true;
        // The phase moves with the completion, so a reader that sees one sees the other.
        int expected = 3;
        toPhaseFour = m_phase.compare_exchange_strong(expected, 4);
        phaseFour = m_phaseFourHandler;
    }
    m_completed.notify_all();
    notify();
    if (toPhaseFour && phaseFour)
        phaseFour(*this);
}

void ExceptionReport::setPhaseFourHandler(std::function<void(ExceptionReport&)> handler)
{
    std::lock_guard lock(m_lock);
    m_phaseFourHandler = std::move(handler);
}

void ExceptionReport::setCompletionWork(std::function<void()> work)
{
    std::lock_guard lock(m_lock);
    if (m_completionState != CompletionState::None)
        return;
    m_completionWork = std::move(work);
    m_completionState = CompletionState::Pending;
}

bool ExceptionReport::completionPending() const
{
    std::lock_guard lock(m_lock);
    return m_completionState == CompletionState::Pending;
}

void ExceptionReport::startCompletion(bool inOwnThread)
{
    {
        std::lock_guard lock(m_lock);
        if (m_completionState != CompletionState::Pending)
            return;
        m_completionState = CompletionState::Running;
        if (inOwnThread) {
            m_completionThread = std::thread([this] { runCompletion(); });
            return;
        }
    }
    runCompletion();
}

void ExceptionReport::runCompletion() const
{
    std::function<void()> work;
    {
        std::lock_guard lock(m_lock);
        work = std::move(m_completionWork);
        m_completingThread = std::this_thread::get_id();
    }
    try {
        if (work)
            work();
    } catch (...) {
        // The reporter never lets its own failure escape; the report stays as far as it got.
    }
    {
        std::lock_guard lock(m_lock);
        m_completionState = CompletionState::Finished;
    }
    m_completed.notify_all();
}

void ExceptionReport::waitForCompletion() const
{
    std::unique_lock lock(m_lock);
    // A change callback of the completion itself cannot wait for it.
    if (m_complete ||
        (m_completionState == CompletionState::Running && m_completingThread == std::this_thread::get_id()))
        return;
    if (m_completionState == CompletionState::Pending) {
        m_completionState = CompletionState::Running;
        lock.unlock();
        runCompletion();
        return;
    }
    // The main thread keeps the please-wait box alive while it waits.
    const bool pump = PlWaitBox() && Services().progress && QCoreApplication::instance() &&
                      QThread::currentThread() == QCoreApplication::instance()->thread();
    const auto deadline = std::chrono::steady_clock::now() + CompletionWaitLimit;
    while (m_completionState == CompletionState::Running && !m_complete &&
           std::chrono::steady_clock::now() < deadline) {
        if (pump) {
            lock.unlock();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            lock.lock();
        }
        m_completed.wait_for(lock, std::chrono::milliseconds(50));
    }
}

std::optional<std::array<std::uint32_t, 3>> ExceptionReport::callStackChecksums() const
{
    std::lock_guard lock(m_lock);
    return m_checksums;
}

void ExceptionReport::setCallStackChecksums(const std::array<std::uint32_t, 3>& values)
{
    std::lock_guard lock(m_lock);
    m_checksums = values;
}

void ExceptionReport::beginUpdate()
{
    std::lock_guard lock(m_lock);
    ++m_updateDepth;
}

void ExceptionReport::endUpdate()
{
    bool fire = false;
    {
        std::lock_guard lock(m_lock);
        if (m_updateDepth > 0 && --m_updateDepth == 0 && m_changedDuringUpdate) {
            m_changedDuringUpdate = false;
            fire = true;
        }
    }
    if (fire)
        notify();
}

void ExceptionReport::fieldsChanged()
{
    {
        std::lock_guard lock(m_lock);
        m_textValid = false;
        m_textOverridden = false;
        if (m_updateDepth > 0) {
            m_changedDuringUpdate = true;
            return;
        }
    }
    notify();
}

void ExceptionReport::notify()
{
    std::vector<Callback> callbacks;
    bool complete;
    {
        std::lock_guard lock(m_lock);
        callbacks = m_callbacks;
        complete = m_complete;
    }
    if (callbacks.empty())
        return;
    const QString text = reportText();
    for (const auto& callback : callbacks)
        callback.call(complete, text);
}

int ExceptionReport::addCallback(ReportCallback callback, bool critical)
{
    std::lock_guard lock(m_lock);
    const int id = m_nextCallbackId++;
    m_callbacks.push_back({id, std::move(callback), critical});
    return id;
}

void ExceptionReport::removeCallback(int id)
{
    std::lock_guard lock(m_lock);
    std::erase_if(m_callbacks, [id](const Callback& c) { return c.id == id; });
}

bool ExceptionReport::hasCriticalCallback() const
{
    std::lock_guard lock(m_lock);
    return std::any_of(m_callbacks.begin(), m_callbacks.end(), [](const Callback& c) { return c.critical; });
}

QImage ExceptionReport::screenshot() const
{
    std::lock_guard lock(m_lock);
    return m_screenshot;
}

void ExceptionReport::setScreenshot(const QImage& image)
{
    std::lock_guard lock(m_lock);
    m_screenshot = image;
}

QString ExceptionReport::writtenReportFile() const
{
    std::lock_guard lock(m_lock);
    return m_writtenFile;
}

void ExceptionReport::setWrittenReportFile(const QString& path)
{
    std::lock_guard lock(m_lock);
    m_writtenFile = path;
}

} // namespace crash
