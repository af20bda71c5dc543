#include "crash/core/settings/ExceptionSettings.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace crash {
namespace {

QString Demangled(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? QString::fromLatin1(name.get()) : QString::fromLatin1(type.name());
}

// "a::b::C<x::Y>" -> "C<x::Y>": the last component outside template arguments.
QString WithoutNamespaces(const QString& name)
{
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == QLatin1Char('<'))
            ++depth;
        else if (c == QLatin1Char('>'))
            --depth;
        else if (depth == 0 && c == QLatin1Char(':') && i + 1 < name.size() &&
                 name[i + 1] == QLatin1Char(':'))
            start = i + 2;
    }
    return name.mid(start);
}

void Collect(const std::type_info& type, QStringList& qualified, int depth)
{
    if (depth > 64)
        return;
    const QString name = Demangled(type);
    if (!qualified.contains(name))
        qualified.append(name);
    if (auto* single = dynamic_cast<const abi::__si_class_type_info*>(&type)) {
        Collect(*single->__base_type, qualified, depth + 1);
    } else if (auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(&type)) {
        for (unsigned i = 0; i < multiple->__base_count; ++i)
            Collect(*multiple->__base_info[i].__base_type, qualified, depth + 1);
    }
}

// The chain keeps qualified names too, so a qualified entry in a class list can match.
QStringList QualifiedChain(const std::type_info& type)
{
    QStringList qualified;
    Collect(type, qualified, 0);
    return qualified;
}

} // namespace

QStringList ExceptionClassChain(const std::type_info& type)
{
    QStringList chain;
    for (const QString& name : QualifiedChain(type)) {
        chain.append(WithoutNamespaces(name));
        if (name != chain.last())
            chain.append(name);
    }
    chain.removeDuplicates();
    return chain;
}

bool ClassListMatches(const QString& list, const QStringList& chain)
{
    for (const QString& entry : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = entry.trimmed();
        if (!name.isEmpty() && chain.contains(name, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

ExceptionSettings::ExceptionSettings(platform::ModuleHandle governingModule, ExceptionType type,
                                     QStringList classChain, QString className, QString message)
    : CrashSettings(governingModule, Fallback::Defaults), m_type(type), m_classChain(std::move(classChain)),
      m_className(std::move(className)), m_message(std::move(message))
{
    if (m_className.isEmpty() && !m_classChain.isEmpty())
        m_className = m_classChain.first();
    if (m_type == ExceptionType::Freeze) {
        m_className = QStringLiteral("EFrozen");
        m_message = FrozenMsg();
    }
    applyFilters();
}

void ExceptionSettings::applyFilters()
{
    QString prefix = QStringLiteral("Gn");
    if (ClassListMatches(F1Classes(), m_classChain)) {
        prefix = QStringLiteral("F1");
        m_filter.group = 1;
    } else if (ClassListMatches(F2Classes(), m_classChain)) {
        prefix = QStringLiteral("F2");
        m_filter.group = 2;
    }
    auto key = [&](const char* suffix) { return (prefix + QLatin1String(suffix)).toStdString(); };
    m_filter.buildReport = !getFlag(key("NoBugRep"));
    m_filter.takeScreenshot = !getFlag(key("NoScrShot")) && ScrShotDepth() > 0;
    m_filter.callHandlers = !getFlag(key("NoHandlers"));
    m_filter.presentation = getNumber(key("ShowCfg"));
    m_filter.assistant = getText(key("Assis"));
    setPauseThreads(PauseThreads() && !getFlag(key("NoSuspend")));
}

void ExceptionSettings::setDetailsFields(std::shared_ptr<const ReportFields> fields)
{
    std::lock_guard guard(m_detailsLock);
    m_details = std::move(fields);
}

std::optional<QString> ExceptionSettings::exceptionClassText() const
{
    return m_className;
}

std::optional<QString> ExceptionSettings::exceptionMessageText() const
{
    return m_message.isEmpty() ? QStringLiteral("Unknown") : m_message;
}

std::optional<QString> ExceptionSettings::errorDetailsText() const
{
    std::lock_guard guard(m_detailsLock);
    if (!m_details)
        return std::nullopt;
    return m_details->field(QStringLiteral("Error Details"));
}

} // namespace crash
