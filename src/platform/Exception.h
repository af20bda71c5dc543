#pragma once
// The program's exception base: a message for the user, as the crash reporter and the
// application's unhandled-exception point show it.

#include <QString>
#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception
{
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }
    // Class name as the report shows it ("Exception", "EPNGOutMemory", ...).
    virtual QString className() const { return QStringLiteral("Exception"); }

private:
    QString m_message;
    std::string m_utf8;
};

// The silent exception: it ends what is running without a message and without a bug report.
class EAbort : public Exception
{
public:
    explicit EAbort(QString message = QStringLiteral("Operation aborted")) : Exception(std::move(message)) {}
    QString className() const override { return QStringLiteral("EAbort"); }
};

} // namespace platform
