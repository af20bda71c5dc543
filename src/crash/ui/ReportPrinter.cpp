#include "crash/ui/ReportPrinter.h"

#include "crash/ui/DialogFonts.h"
#include "crash/ui/TNVAssistant.h"

#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>

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

} // namespace

bool ReportPrinter::print(const QString& text, QPrinter& printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    painter.setFont(font);
    const QFontMetrics metrics(font, painter.device());
    const QRect page = painter.viewport();
    const int lineHeight = metrics.lineSpacing();
    const int footer = 2 * lineHeight;
    const int linesPerPage = std::max(1, (page.height() - footer) / lineHeight);
    const int columns = std::max(20, page.width() / std::max(1, metrics.horizontalAdvance(QLatin1Char('M'))));
    const QStringList lines = WrappedLines(text, columns);
    const int pages = std::max<int>(1, int((lines.size() + linesPerPage - 1) / linesPerPage));
    for (int p = 0; p < pages; ++p) {
        if (p > 0 && !printer.newPage())
            return false;
        for (int i = 0; i < linesPerPage; ++i) {
            const qsizetype index = qsizetype(p) * linesPerPage + i;
            if (index >= lines.size())
                break;
            painter.drawText(0, i * lineHeight + metrics.ascent(), lines[index]);
        }
        const QString number = QStringLiteral("page %1 of %2").arg(p + 1).arg(pages);
        painter.drawText(QRect(0, page.height() - lineHeight, page.width(), lineHeight), Qt::AlignHCenter,
                         number);
    }
    return painter.end() && printer.printerState() != QPrinter::Error;
}

bool ReportPrinter::printWithDialog(const std::shared_ptr<ExceptionReport>& report, QWidget* parent)
{
    if (!RunAssistant(report->PrintAssis(), report, parent))
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("bug report"));
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false; // cancelled
    if (print(report->reportText(true), printer))
        return true;
    QMessageBox::warning(
        parent, report->TitleBar(),
        QStringLiteral("The bug report could not be printed on \"%1\". Nothing was lost: the "
                       "report can still be saved or sent.")
            .arg(printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName()));
    return false;
}

} // namespace crash::ui
