#include "platform/DrawText.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// The text as shown: accelerator prefixes removed (their characters remembered for underlining)
// and, on a single line, the line breaks dropped.
struct ShownText
{
    QString text;
    QList<int> underlined;
};

ShownText PrepareText(const QString& source, bool prefixes, bool singleLine)
{
    ShownText out;
    out.text.reserve(source.size());
    for (qsizetype i = 0; i < source.size(); ++i) {
        const QChar c = source.at(i);
        if (singleLine && (c == u'\r' || c == u'\n'))
            continue;
        if (prefixes && c == u'&' && i + 1 < source.size()) {
            ++i;
            if (source.at(i) != u'&')
                out.underlined.append(int(out.text.size()));
            out.text.append(source.at(i));
            continue;
        }
        out.text.append(c);
    }
    return out;
}

struct Line
{
    int start = 0; // into ShownText::text
    int length = 0;
};

bool IsBreakChar(QChar c)
{
    return c == u'\r' || c == u'\n';
}

// Splits into paragraphs at CR LF, CR or LF, and wraps each to `width` when asked.
QList<Line> BreakLines(const QString& text, const QFont& font, QPaintDevice* device, bool singleLine,
                       bool wordBreak, bool breakLongWords, int width)
{
    QList<Line> lines;
    auto addParagraph = [&](int start, int end) {
        if (!wordBreak || end == start) {
            lines.append({start, end - start});
            return;
        }
        QTextLayout layout(text.mid(start, end - start), font, device);
        QTextOption option;
        option.setWrapMode(breakLongWords ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                          : QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
            line.setLineWidth(std::max(width, 0));
        layout.endLayout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            int from = line.textStart();
            int length = line.textLength();
            // The blanks at a break belong to neither line.
            if (i + 1 < layout.lineCount())
                while (length > 0 && text.at(start + from + length - 1).isSpace())
                    --length;
            lines.append({start + from, length});
        }
    };
    if (singleLine) {
        addParagraph(0, int(text.size()));
        return lines;
    }
    int start = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (!IsBreakChar(text.at(i)))
            continue;
        addParagraph(start, i);
        if (text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    addParagraph(start, int(text.size()));
    return lines;
}

int TextWidth(const QFontMetricsF& metrics, const QString& s)
{
    return int(std::ceil(metrics.horizontalAdvance(s) - 1e-6));
}

QString Elided(const QFontMetricsF& metrics, const QString& s, int width)
{
    QString flat = s;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');
    return metrics.elidedText(flat, Qt::ElideRight, std::max(width, 0));
}

void DrawLine(QPainter& dc, const QString& s, const QList<int>& underlined, int x, int y)
{
    QTextLayout layout(s, dc.font(), dc.device());
    QList<QTextLayout::FormatRange> formats;
    for (int pos : underlined) {
        QTextLayout::FormatRange range;
        range.start = pos;
        range.length = 1;
        range.format.setFontUnderline(true);
        formats.append(range);
    }
    layout.setFormats(formats);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(1e6);
    layout.endLayout();
    layout.draw(&dc, QPointF(x, y));
}

} // namespace

int DrawText(QPainter& dc, const QString& source, TRect& rect, unsigned format)
{
    const bool singleLine = format & DT_SINGLELINE;
    const bool wordBreak = !singleLine && (format & DT_WORDBREAK);
    const bool calcRect = format & DT_CALCRECT;
    const bool clip = !(format & DT_NOCLIP);
    const bool ellipsis = format & DT_END_ELLIPSIS;
    const QFont font = dc.font();
    QPaintDevice* device = dc.device();
    const QFontMetricsF metrics(font, device);
    const int lineHeight = QFontMetrics(font, device).height();

    if (source.isEmpty()) {
        if (calcRect) {
            rect.Right = rect.Left;
            rect.Bottom = rect.Top + (singleLine ? lineHeight : 0);
        }
        return lineHeight;
    }

    const ShownText shown = PrepareText(source, !(format & DT_NOPREFIX), singleLine);
    const int width = rect.Width();
    const QList<Line> lines =
        BreakLines(shown.text, font, device, singleLine, wordBreak, format & DT_EDITCONTROL, width);

    // How many lines are laid out: all of them when measuring or not clipping, otherwise up to
    // the bottom of the rectangle (an edit control shows no partly visible last line).
    int count = int(lines.size());
    if (!calcRect && clip) {
        int y = rect.Top;
        for (int i = 1; i < count; ++i) {
            y += lineHeight;
            const bool shows = (format & DT_EDITCONTROL) ? y + lineHeight <= rect.Bottom : y <= rect.Bottom;
            if (!shows) {
                count = i;
                break;
            }
        }
    }
    const bool cutBelow = count < lines.size();

    int y = rect.Top;
    if (singleLine && (format & DT_VCENTER))
        y = rect.Top + rect.Height() / 2 - lineHeight / 2;
    else if (singleLine && (format & DT_BOTTOM))
        y = rect.Bottom - lineHeight;

    if (!calcRect && clip) {
        dc.save();
        dc.setClipRect(rect.ToQRect(), Qt::IntersectClip);
    }
    int widest = 0;
    for (int i = 0; i < count; ++i) {
        const Line& line = lines.at(i);
        QString s = shown.text.mid(line.start, line.length);
        bool shortened = false;
        if (ellipsis) {
            const bool lastShown = cutBelow && i == count - 1;
            const QString candidate = lastShown ? shown.text.mid(line.start) : s;
            if (lastShown || TextWidth(metrics, s) > width) {
                s = Elided(metrics, candidate, width);
                shortened = true;
            }
        }
        const int lineWidth = TextWidth(metrics, s);
        widest = std::max(widest, lineWidth);
        if (!calcRect) {
            int x = rect.Left;
            if (format & DT_CENTER)
                x = (rect.Left + rect.Right - lineWidth) / 2;
            else if (format & DT_RIGHT)
                x = rect.Right - lineWidth;
            // An underlined character cut off by the ellipsis loses its underline with it.
            const int kept = shortened ? int(s.size()) - 1 : line.length;
            QList<int> underlined;
            for (int pos : shown.underlined)
                if (pos >= line.start && pos - line.start < kept)
                    underlined.append(pos - line.start);
            DrawLine(dc, s, underlined, x, y);
        }
        y += lineHeight;
    }
    if (!calcRect && clip)
        dc.restore();

    const int height = count * lineHeight;
    if (calcRect) {
        rect.Right = rect.Left + widest;
        rect.Bottom = rect.Top + height;
    }
    return height;
}

int TextHeight(QPainter& dc, const QString& text)
{
    if (text.isEmpty())
        return 0;
    return QFontMetrics(dc.font(), dc.device()).height();
}

} // namespace platform
