#include "crash/core/report/ExceptionReport.h"

#include <QRegularExpression>

namespace crash {

namespace {

QString HeaderContent(QString content)
{
    content.replace(QLatin1String("\r\n"), QLatin1String(" "));
    content.replace(QLatin1Char('\r'), QLatin1Char(' '));
    content.replace(QLatin1Char('\n'), QLatin1Char(' '));
    while (content.contains(QLatin1String("  ")))
        content.replace(QLatin1String("  "), QLatin1String(" "));
    return content;
}

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
        text += name.leftJustified(width + 1) + QLatin1String(": ") + HeaderContent(content);
    }
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
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

ExceptionReport::ExceptionReport(platform::ModuleHandle governingModule, ExceptionType type, QStringList classChain,
                                 QString className, QString message, ExceptionSource source, bool canContinue)
    : ExceptionSettings(governingModule, type, std::move(classChain), std::move(className), std::move(message)),
      m_source(source), m_canContinue(canContinue), m_created(QDateTime::currentDateTime()),
      m_header(std::make_shared<ReportFields>(this)), m_sections(std::make_shared<ReportFields>(this))
{
    m_header->setChangeHandler([this] { fieldsChanged(); });
    m_sections->setChangeHandler([this] { fieldsChanged(); });
    setDetailsFields(m_header);
}

ExceptionReport::~ExceptionReport()
{
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
    {
        std::lock_guard lock(m_lock);
        m_complete = true;
    }
    m_completed.notify_all();
    notify();
}

void ExceptionReport::waitForCompletion() const
{
    std::unique_lock lock(m_lock);
    m_completed.wait(lock, [this] { return m_complete; });
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
