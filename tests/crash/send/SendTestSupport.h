#pragma once
// Shared pieces of the delivery tests: reports with the shipped settings, and a desktop whose
// mailto handler is a script that records the arguments it was started with.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportServices.h"
#include "support/TempDir.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace sendtest {

std::shared_ptr<crash::ExceptionReport> MakeReport();

// A report text with the header lines the placeholders read.
QString SampleReportText();

// Records the steps the mail procedure adds and where it moves.
class RecordingProgress : public crash::ProgressAlert
{
public:
    QList<std::pair<QString, qint64>> steps;
    QList<int> visited;
    bool closed = false;
    int shown = 0; // 1 foreground, 2 background
    void addStep(const QString& text, qint64 weight) override { steps.append({text, weight}); }
    void clearSteps() override { steps.clear(); }
    void show(bool foreground) override { shown = foreground ? 1 : 2; }
    void close() override { closed = true; }
    void setCurrentStep(int step) override
    {
        m_current = step;
        visited.append(step);
    }
    void stepDone() override { setCurrentStep(m_current + 1); }
    void setStepPosition(int p) override { m_position = p; }
    int currentStep() const override { return m_current; }
    int stepPosition() const override { return m_position; }

private:
    int m_current = 0;
    int m_position = 0;
};

// Sets environment variables for the scope and puts the old values back.
class ScopedEnvironment
{
public:
    ~ScopedEnvironment();
    void set(const char* name, const QByteArray& value);
    void unset(const char* name);

private:
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A private XDG data and config home; with `handlerId` a desktop entry of that name is installed
// and made the mailto default with xdg-mime. Its program appends one line per argument to
// `recordFile()` and a "--" line after each call.
class MailHandlerSandbox
{
public:
    explicit MailHandlerSandbox(const QString& handlerId = QStringLiteral("recorder-mail.desktop"),
                                const QString& execArguments = QStringLiteral("%u"));
    QString recordFile() const { return m_dir.file(QStringLiteral("calls.txt")); }
    // The argument lists of each recorded call.
    QList<QStringList> calls() const;
    // Waits (bounded) until at least `count` calls were recorded.
    bool waitForCalls(int count, int timeoutMs = 10000) const;
    QString tempFolder() const { return m_dir.file(QStringLiteral("tmp")); }
    const testsupport::TempDir& dir() const { return m_dir; }

private:
    testsupport::TempDir m_dir;
    ScopedEnvironment m_env;
};

} // namespace sendtest
