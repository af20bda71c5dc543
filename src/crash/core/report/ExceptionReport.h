#pragma once
// One caught exception or freeze and its bug report.
//
// The report is a header (aligned name/value lines) and titled sections, each a ReportFields
// list; the text is laid out from them on demand and cached until a field changes. The handling
// flow builds the fields in a fast first step with "will be calculated soon" placeholders and
// completes them later, often on a thread of its own while the dialog already shows the text, so
// every reader goes through the report's lock and listens to the change callbacks.
//
// Reports are shared: the handler thread, the dialog, a background send and the callbacks each
// hold a std::shared_ptr, and the last one frees it.

#include "crash/core/report/ThreadRecord.h"
#include "crash/core/settings/ExceptionSettings.h"
#include "crash/core/settings/ReportFields.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace crash {

// Where an exception was caught (the interception point).
enum class ExceptionSource
{
    Explicit = 0,
    FreezeWatchdog = 1,
    AbnormalTermination = 2,
    RuntimeShowException = 3,
    ApplicationShowException = 4,
    ApplicationHandleException = 5,
    MarshalledCall = 10,
    RuntimeFatalError = 11,
    ThreadLastChance = 13,
    RaiseTime = 15
};

// What the user (or the automatic rules) decided after the report was shown.
enum class UserChoice
{
    None,
    Continue,
    Restart,
    Close
};

class ExceptionReport : public ExceptionSettings
{
public:
    ExceptionReport(platform::ModuleHandle governingModule, ExceptionType type, QStringList classChain,
                    QString className, QString message, ExceptionSource source, bool canContinue);
    ~ExceptionReport() override;

    ExceptionSource source() const { return m_source; }
    bool canContinue() const { return m_canContinue.load(); }
    void setCanContinue(bool value) { m_canContinue = value; }
    bool isFreeze() const { return type() == ExceptionType::Freeze; }
    QDateTime created() const { return m_created; }

    // The crashed thread (kernel thread id) and where it stopped.
    std::int64_t crashedThread = 0;
    std::uintptr_t exceptionAddress = 0;

    // Header and sections; both empty until the flow builds them.
    ReportFields& header() { return *m_header; }
    ReportFields& sections() { return *m_sections; }
    const ReportFields& header() const { return *m_header; }
    const ReportFields& sections() const { return *m_sections; }

    // The laid-out text of header and sections (CR LF line ends, no final line break), or the text
    // set with setReportText. With mustBeComplete the caller waits until completion has run.
    QString reportText(bool mustBeComplete = false) const;
    // The dialog's edits: replaces the text until the next field change and fires the callbacks.
    void setReportText(const QString& text);

    // Completion: the slow parts (stacks, plugins) have replaced their placeholders.
    bool isComplete() const;
    void markComplete();
    // Runs a pending completion in this thread, or waits (bounded) for the one running elsewhere;
    // returns at once when there is nothing to complete.
    void waitForCompletion() const;

    // The work of the completion step, handed over by the first build step. startCompletion runs
    // it in a thread of its own or here; it runs at most once.
    void setCompletionWork(std::function<void()> work);
    void startCompletion(bool inOwnThread);
    bool completionPending() const;
    // Stops a running completion between two items; what is done stays.
    void cancelCompletion() { m_cancel = true; }
    bool completionCancelled() const { return m_cancel.load() || (m_cancelSource && m_cancelSource->load()); }
    // A flag of the caller's that cancels as well (checked between items); it must outlive the report.
    void setCancelSource(const std::atomic<bool>* source) { m_cancelSource = source; }
    const std::atomic<bool>* cancelFlag() const { return &m_cancel; }
    bool deferCompletion() const { return m_defer.load(); }
    void setDeferCompletion(bool defer) { m_defer = defer; }

    // Phases of the handling flow: 1 created, 2 handlers seen, 3 ready to present, 4 completed
    // after phase 3 was reached. The phase-4 handler is the flow's way to call its exception
    // handlers once more; it runs in the completing thread.
    int phase() const { return m_phase.load(); }
    void setPhase(int phase) { m_phase = phase; }
    void setPhaseFourHandler(std::function<void(ExceptionReport&)> handler);

    // A per-process count of reports, from 1.
    int exceptionNumber() const { return m_number; }

    // The listed threads, in listing order; filled by the first build step.
    std::vector<ThreadRecord>& threads() { return m_threads; }
    const std::vector<ThreadRecord>& threads() const { return m_threads; }
    // The three call-stack checksums; set when completion wrote "callstack crc".
    std::optional<std::array<std::uint32_t, 3>> callStackChecksums() const;
    void setCallStackChecksums(const std::array<std::uint32_t, 3>& values);

    // Group several field changes into one change notification.
    void beginUpdate();
    void endUpdate();

    // Called with (complete, text) after every change, outside the report's lock. Critical
    // callbacks must see the complete report (the automatic actions register one).
    using ReportCallback = std::function<void(bool complete, const QString& text)>;
    int addCallback(ReportCallback callback, bool critical = false);
    void removeCallback(int id);
    bool hasCriticalCallback() const;

    // The screenshot taken for this report; null when none was taken.
    QImage screenshot() const;
    void setScreenshot(const QImage& image);

    // The file the automatic save wrote; the delivery attaches it instead of a fresh copy.
    QString writtenReportFile() const;
    void setWrittenReportFile(const QString& path);
    bool wasSent() const { return m_sent.load(); }
    void setSent(bool sent) { m_sent = sent; }

private:
    void fieldsChanged();
    void notify();
    void runCompletion() const;

    ExceptionSource m_source;
    std::atomic<bool> m_canContinue;
    QDateTime m_created;
    std::shared_ptr<ReportFields> m_header;
    std::shared_ptr<ReportFields> m_sections;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_completed;
    mutable QString m_text;
    mutable bool m_textValid = false;
    bool m_textOverridden = false;
    bool m_complete = false;
    int m_updateDepth = 0;
    bool m_changedDuringUpdate = false;
    QImage m_screenshot;
    QString m_writtenFile;
    std::atomic<bool> m_sent{false};

    enum class CompletionState
    {
        None,
        Pending,
        Running,
        Finished
    };
    mutable CompletionState m_completionState = CompletionState::None;
    mutable std::function<void()> m_completionWork;
    std::thread m_completionThread;
    mutable std::thread::id m_completingThread; // the thread running the completion work
    std::atomic<bool> m_cancel{false};
    const std::atomic<bool>* m_cancelSource = nullptr;
    std::atomic<bool> m_defer{false};
    std::atomic<int> m_phase{1};
    std::function<void(ExceptionReport&)> m_phaseFourHandler;
    const int m_number;
    std::vector<ThreadRecord> m_threads;
    std::optional<std::array<std::uint32_t, 3>> m_checksums;

    struct Callback
    {
        int id;
        ReportCallback call;
        bool critical;
    };
    std::vector<Callback> m_callbacks;
    int m_nextCallbackId = 1;
};

// The text layout of a report: header lines padded to the longest name, then each section.
QString LayoutReportText(const ReportFields& header, const ReportFields& sections);

} // namespace crash
