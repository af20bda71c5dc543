// The printed report, as a PDF read back with pdftotext: header fields, every section title, the
// last line, page numbers, a long report over several pages, the dialog's page range and copies;
// a failing printer, and the print service called from a thread while the GUI thread is stuck.
#include "crash/ui/ReportPrinter.h"
#include "ReportFixture.h"
#include "crash/ui/DialogBeep.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using crash::ui::ReportPrinter;

namespace {

void PrintToPdf(QPrinter& printer, const QString& pdf)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
}

// The text of the PDF; `pages` counts its pages.
QString PdfText(const QString& pdf, int* pages = nullptr)
{
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", pdf, "-"});
    EXPECT_TRUE(pdftotext.waitForFinished(30000));
    const QString out = QString::fromUtf8(pdftotext.readAllStandardOutput());
    if (pages)
        *pages = int(out.count(QLatin1Char('\f')));
    return out;
}

QString PrintToPdfText(const QString& text, const QString& pdf, int* pages = nullptr)
{
    QPrinter printer(QPrinter::HighResolution);
    PrintToPdf(printer, pdf);
    EXPECT_TRUE(ReportPrinter::print(text, printer));
    return PdfText(pdf, pages);
}

QString NumberedLines(int count)
{
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QString("line %1 of the long report").arg(i, 4, 10, QLatin1Char('0'));
    return lines.join("\r\n");
}

} // namespace

TEST(ReportPrinter, PdfHoldsHeaderSectionsAndLastLine)
{
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->header().setField("contact email", "ada@example.org"); // what the print assistant adds
    testsupport::TempDir dir;
    const QString text = PrintToPdfText(report->reportText(), dir.file("report.pdf"));
    EXPECT_TRUE(text.contains("BUILDHOST"));
    EXPECT_TRUE(text.contains("ada@example.org"));
    for (const auto& [name, content] : report->sections().items())
        EXPECT_TRUE(text.contains(name)) << name.toStdString();
    EXPECT_TRUE(text.simplified().contains("mov eax, [rbx] ; the fault")) << "the last line";
    EXPECT_TRUE(text.contains("page 1 of 1"));
}

TEST(ReportPrinter, LongReportTakesSeveralPagesAndWrapsLongLines)
{
    const QString lines = NumberedLines(2000) + "\r\n" + QString("x").repeated(300) + "END";
    testsupport::TempDir dir;
    int pages = 0;
    const QString text = PrintToPdfText(lines, dir.file("long.pdf"), &pages);
    EXPECT_GT(pages, 1);
    EXPECT_TRUE(text.contains("line 2000 of the long report"));
    EXPECT_TRUE(text.contains("xEND")) << "the end of a long line is wrapped, not cut";
    EXPECT_TRUE(text.contains(QString("page %1 of %1").arg(pages)));
}

TEST(ReportPrinter, PrintsThePageRangeAndTheCopiesAsked)
{
    testsupport::TempDir dir;
    int allPages = 0;
    PrintToPdfText(NumberedLines(2000), dir.file("all.pdf"), &allPages);
    ASSERT_GE(allPages, 3);

    QPrinter range(QPrinter::HighResolution);
    PrintToPdf(range, dir.file("range.pdf"));
    range.setPrintRange(QPrinter::PageRange);
    range.setFromTo(2, 3);
    ASSERT_TRUE(ReportPrinter::print(NumberedLines(2000), range));
    int pages = 0;
    QString text = PdfText(dir.file("range.pdf"), &pages);
    EXPECT_EQ(pages, 2);
    EXPECT_FALSE(text.contains(QString("page 1 of %1").arg(allPages)));
    EXPECT_TRUE(text.contains(QString("page 3 of %1").arg(allPages)));
    EXPECT_FALSE(text.contains("line 0001 of"));

    // A PDF file makes no copies itself: each copy is printed, collated.
    QPrinter copies(QPrinter::HighResolution);
    PrintToPdf(copies, dir.file("copies.pdf"));
    ASSERT_FALSE(copies.supportsMultipleCopies());
    copies.setCopyCount(2);
    copies.setCollateCopies(true);
    ASSERT_TRUE(ReportPrinter::print(NumberedLines(2000), copies));
    text = PdfText(dir.file("copies.pdf"), &pages);
    EXPECT_EQ(pages, 2 * allPages);
    EXPECT_EQ(text.count("line 2000 of the long report"), 2);
    EXPECT_GT(text.indexOf("line 0001 of", text.indexOf("line 2000 of")), 0)
        << "the second copy starts again";
}

TEST(ReportPrinter, PrinterErrorIsToldInAMessageBoxAndLosesNothing)
{
    testsupport::MessageBoxRecorder boxes;
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->markComplete();
    const QString before = report->reportText();
    QPrinter printer;
    PrintToPdf(printer, "/nonexistent-folder/report.pdf");
    EXPECT_FALSE(ReportPrinter::printReport(*report, printer));
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(boxes.texts().first().contains("/nonexistent-folder/report.pdf"));
    EXPECT_EQ(boxes.icons().first(), platform::MsgIcon::Error);
    EXPECT_EQ(report->reportText(), before);
}

TEST(ReportPrinter, ServiceFromAnotherThreadBeepsWhileTheGuiThreadIsStuck)
{
    int beeps = 0;
    const auto previous = crash::ui::SetDialogBeepHandler([&] { ++beeps; });
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->markComplete();
    report->setPrintAssis(QString());
    int dialogs = 0;
    QTimer answerer; // cancels every print dialog, as a user would
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QPrintDialog*>(w); dialog && dialog->isVisible()) {
                ++dialogs;
                dialog->reject();
            }
    });
    answerer.start(20);

    // This thread waits in join() and so cannot take the job on.
    bool printed = true;
    std::thread stuck(
        [&] { printed = ReportPrinter::printFromAnyThread(report, std::chrono::milliseconds(300)); });
    stuck.join();
    EXPECT_FALSE(printed);
    EXPECT_EQ(beeps, 1);
    QTest::qWait(300);
    EXPECT_EQ(dialogs, 0) << "the given-up job stays given up";

    // A GUI thread that runs its loop shows the dialog; cancelling it cancels the print.
    std::atomic<int> result{-1};
    std::thread caller([&] { result = ReportPrinter::printFromAnyThread(report) ? 1 : 0; });
    QElapsedTimer clock;
    clock.start();
    while (result < 0 && clock.elapsed() < 15000)
        QTest::qWait(20);
    caller.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(beeps, 1);
    crash::ui::SetDialogBeepHandler(previous);
}
