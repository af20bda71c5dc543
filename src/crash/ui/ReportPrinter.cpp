#include "crash/ui/ReportPrinter.h"

#include "crash/ui/DialogBeep.h"
#include "crash/ui/TNVAssistant.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace crash::ui {

namespace {

// The text's lines, each cut to at most `columns` characters.
QStringList WrappedLines(const QString& text, int columns)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines;
    for (const QString& line : text.split(lineBreak)) {
        if (line.size() <= columns) {
            lines.append(line);
            continue;
        }
        for (qsizetype at = 0; at < line.size(); at += columns)
            lines.append(line.mid(at, columns));
    }
    return lines;
}

// The page numbers to print, in printing order: the dialog's page range and page order, and the
// copies the printer system does not make itself (a PDF file makes none).
std::vector<int> PrintSequence(const QPrinter& printer, int pageCount)
{
    int first = 1, last = pageCount;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = printer.fromPage();
        last = std::min(last, printer.toPage() > 0 ? printer.toPage() : pageCount);
    }
    std::vector<int> pages;
    for (int page = first; page <= last; ++page)
        pages.push_back(page);
    if (printer.pageOrder() == QPrinter::LastPageFirst)
        std::reverse(pages.begin(), pages.end());
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(1, printer.copyCount());
    std::vector<int> sequence;
    if (printer.collateCopies()) {
        for (int copy = 0; copy < copies; ++copy)
            sequence.insert(sequence.end(), pages.begin(), pages.end());
    } else {
        for (int page : pages)
            sequence.insert(sequence.end(), size_t(copies), page);
    }
    return sequence;
}

QWidget* ActiveWindow()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

// One print job handed to the GUI thread; whichever side comes first decides whether it still
// runs or was given up.
struct GuiHandover
{
    enum class State
    {
        Waiting,
        Running,
        GivenUp,
        Done
    };
    std::mutex lock;
    std::condition_variable changed;
    State state = State::Waiting;
    bool printed = false;

    void set(State next, bool result = false)
    {
        {
            std::lock_guard guard(lock);
            state = next;
            printed = result;
        }
        changed.notify_all();
    }
};

} // namespace

bool ReportPrinter::print(const QString& text, QPrinter& printer)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    const QFontMetrics metrics(font, &printer);
    const QRect page(QPoint(0, 0), printer.pageRect(QPrinter::DevicePixel).size().toSize());
    const int lineHeight = metrics.lineSpacing();
    const int footer = 2 * lineHeight;
    const int linesPerPage = std::max(1, (page.height() - footer) / lineHeight);
    const int columns = std::max(20, page.width() / std::max(1, metrics.horizontalAdvance(QLatin1Char('M'))));
    const QStringList lines = WrappedLines(text, columns);
    const int pages = std::max<int>(1, int((lines.size() + linesPerPage - 1) / linesPerPage));
    const std::vector<int> sequence = PrintSequence(printer, pages);
    if (sequence.empty())
        return true; // a page range beyond the report's end
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.setFont(font);
    for (size_t i = 0; i < sequence.size(); ++i) {
        if (i > 0 && !printer.newPage())
            return false;
        const int p = sequence[i] - 1;
        for (int row = 0; row < linesPerPage; ++row) {
            const qsizetype index = qsizetype(p) * linesPerPage + row;
            if (index >= lines.size())
                break;
            painter.drawText(0, row * lineHeight + metrics.ascent(), lines[index]);
        }
        const QString number = QStringLiteral("page %1 of %2").arg(p + 1).arg(pages);
        painter.drawText(QRect(0, page.height() - lineHeight, page.width(), lineHeight), Qt::AlignHCenter,
                         number);
    }
    return painter.end() && printer.printerState() != QPrinter::Error;
}

bool ReportPrinter::printReport(const ExceptionReport& report, QPrinter& printer)
{
    if (printer.docName().isEmpty())
        printer.setDocName(QStringLiteral("bug report"));
    if (print(report.reportText(true), printer))
        return true;
    const QString target = printer.outputFileName().isEmpty()
                               ? printer.printerName()
                               : QDir::toNativeSeparators(printer.outputFileName());
    platform::ShowMessageBox(QStringLiteral("The bug report could not be printed on \"%1\". Nothing was "
                                            "lost: the report can still be printed again, saved or sent.")
                                 .arg(target),
                             report.TitleBar(), platform::MsgIcon::Error);
    return false;
}

bool ReportPrinter::printWithDialog(const std::shared_ptr<ExceptionReport>& report, QWidget* parent)
{
    if (!RunAssistant(report->PrintAssis(), report, parent))
        return false;
    QPrinter printer(QPrinter::HighResolution);
    // A fresh printer's margins put text where many printers cannot print; the dialog shows these.
    printer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    // On the heap: an owner closed while the dialog is open deletes the dialog with it.
    QPointer<QPrintDialog> dialog = new QPrintDialog(&printer, parent);
    const int answer = dialog->exec();
    if (!dialog)
        return false;
    delete dialog.data();
    return answer == QDialog::Accepted && printReport(*report, printer);
}

bool ReportPrinter::printFromAnyThread(const std::shared_ptr<ExceptionReport>& report,
                                       std::chrono::milliseconds guiAnswerTimeout)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || !report)
        return false;
    if (QThread::currentThread() == app->thread())
        return printWithDialog(report, ActiveWindow());

    auto handover = std::make_shared<GuiHandover>();
    QMetaObject::invokeMethod(app, [handover, report] {
        {
            std::lock_guard guard(handover->lock);
            if (handover->state == GuiHandover::State::GivenUp)
                return;
            handover->state = GuiHandover::State::Running;
        }
        handover->changed.notify_all();
        handover->set(GuiHandover::State::Done, printWithDialog(report, ActiveWindow()));
    });
    std::unique_lock guard(handover->lock);
    if (!handover->changed.wait_for(guard, guiAnswerTimeout,
                                    [&] { return handover->state != GuiHandover::State::Waiting; })) {
        handover->state = GuiHandover::State::GivenUp;
        guard.unlock();
        DialogBeep();
        return false;
    }
    // The user is at the print dialog now; only they decide how long it stays open.
    handover->changed.wait(guard, [&] { return handover->state == GuiHandover::State::Done; });
    return handover->printed;
}

} // namespace crash::ui
