// The printed report, as a PDF read back with pdftotext: header fields, every section title, the
// last line, page numbers, and a long report over several pages.
#include "crash/ui/ReportPrinter.h"
#include "ReportFixture.h"
#include "support/TempDir.h"

#include <QPrinter>
#include <QProcess>
#include <gtest/gtest.h>

using crash::ui::ReportPrinter;

namespace {

QString PrintToPdfText(const QString& text, const QString& pdf, int* pages = nullptr)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    EXPECT_TRUE(ReportPrinter::print(text, printer));
    QProcess pdftotext;
    pdftotext.start("pdftotext", {"-layout", pdf, "-"});
    EXPECT_TRUE(pdftotext.waitForFinished(30000));
    const QString out = QString::fromUtf8(pdftotext.readAllStandardOutput());
    if (pages)
        *pages = int(out.count(QLatin1Char('\f')));
    return out;
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
    QStringList lines;
    for (int i = 1; i <= 2000; ++i)
        lines << QString("line %1 of the long report").arg(i, 4, 10, QLatin1Char('0'));
    lines << QString("x").repeated(300) + "END";
    testsupport::TempDir dir;
    int pages = 0;
    const QString text = PrintToPdfText(lines.join("\r\n"), dir.file("long.pdf"), &pages);
    EXPECT_GT(pages, 1);
    EXPECT_TRUE(text.contains("line 2000 of the long report"));
    EXPECT_TRUE(text.contains("xEND")) << "the end of a long line is wrapped, not cut";
    EXPECT_TRUE(text.contains(QString("page %1 of %1").arg(pages)));
}

TEST(ReportPrinter, PrinterThatCannotStartFails)
{
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("/nonexistent-folder/report.pdf");
    EXPECT_FALSE(ReportPrinter::print("text", printer));
}
