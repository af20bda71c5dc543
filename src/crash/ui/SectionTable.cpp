#include "crash/ui/SectionTable.h"

#include <QRegularExpression>
#include <algorithm>

namespace crash::ui {

namespace {

const QString kCallStackColumns = QStringLiteral("^address|^ rel.|module|unit| line| rel.|function");

QString BareName(QString name)
{
    name = name.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed().toLower();
}

QStringList SplitLines(const QString& text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineBreak);
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines;
}

// Cuts `line` into `count` cells at runs of two or more blanks, or failing that at single blanks;
// the last cell keeps the rest of the line.
QStringList CutAtBlanks(const QString& line, int count)
{
    static const QRegularExpression wide(QStringLiteral("\\s{2,}"));
    static const QRegularExpression narrow(QStringLiteral("\\s+"));
    const QString trimmed = line.trimmed();
    QStringList cells = trimmed.split(wide);
    if (cells.size() != count) {
        cells.clear();
        QString rest = trimmed;
        while (cells.size() + 1 < count) {
            const auto match = narrow.match(rest);
            if (!match.hasMatch())
                break;
            cells.append(rest.left(match.capturedStart()));
            rest = rest.mid(match.capturedEnd());
        }
        cells.append(rest);
    }
    while (cells.size() < count)
        cells.append(QString());
    return cells;
}

bool IsStackRow(const QString& line)
{
    static const QRegularExpression address(QStringLiteral("^[0-9a-fA-F]{8,16}( |$)"));
    return address.match(line).hasMatch();
}

bool AllMatch(const QStringList& cells, const QRegularExpression& pattern)
{
    bool any = false;
    for (const QString& cell : cells) {
        if (cell.isEmpty())
            continue;
        if (!pattern.match(cell).hasMatch())
            return false;
        any = true;
    }
    return any;
}

const QRegularExpression& OffsetPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\+[0-9a-fA-F]+$"));
    return pattern;
}

const QRegularExpression& NumberPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+$"));
    return pattern;
}

// A unit is a source file's name; a function name may hold blanks, so its words are no unit.
const QRegularExpression& UnitPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.+-]+$"));
    return pattern;
}

const QRegularExpression& RelativeLinePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\+[0-9]+$"));
    return pattern;
}

// A stack line written on its own, words joined by single blanks: address, offset if shown,
// module, unit (written even when empty), line if known, relative line if shown, function.
QStringList CutSingleStackLine(const QString& line)
{
    const QStringList words = line.split(QLatin1Char(' '));
    QStringList cells(7);
    qsizetype i = 0;
    cells[0] = words.value(i++);
    if (OffsetPattern().match(words.value(i)).hasMatch())
        cells[1] = words.value(i++);
    cells[2] = words.value(i++);
    if (i + 1 < words.size())
        cells[3] = words.value(i++);
    while (i + 1 < words.size() && words[i].isEmpty()) // blanks after an empty unit
        ++i;
    if (NumberPattern().match(words.value(i)).hasMatch())
        cells[4] = words.value(i++);
    if (RelativeLinePattern().match(words.value(i)).hasMatch())
        cells[5] = words.value(i++);
    cells[6] = words.mid(i).join(QLatin1Char(' '));
    return cells;
}

const QRegularExpression& PriorityPattern()
{
    static const QRegularExpression pattern(QStringLiteral("(below normal|normal|idle|high|realtime)( |$)"));
    return pattern;
}

bool PriorityAt(const QString& line, qsizetype position)
{
    return position > 0 && position < line.size() && line[position - 1] == QLatin1Char(' ') &&
           PriorityPattern()
               .match(line, position, QRegularExpression::NormalMatch,
                      QRegularExpression::AnchorAtOffsetMatchOption)
               .hasMatch();
}

// The processes section says by its values which of the four column sets it has.
QString ProcessColumns(const QStringList& lines)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    int fields = 0;
    for (const QString& line : lines)
        fields = std::max(fields, int(line.trimmed().split(blanks).size()));
    if (fields >= 7)
        return QStringLiteral("^id|file name|session|gdi objects|user objects|priority|path");
    if (fields == 6)
        return QStringLiteral("^id|file name|gdi objects|user objects|priority|path");
    if (fields == 5)
        return QStringLiteral("^id|file name|session|priority|path");
    return QStringLiteral("^id|file name|priority|path");
}

QString DisassemblyColumns(const QStringList& lines)
{
    static const QRegularExpression address(QStringLiteral("^\\s*[0-9a-fA-F]{8,16}\\b"));
    for (const QString& line : lines)
        if (!line.trimmed().isEmpty())
            return address.match(line).hasMatch() ? QStringLiteral("address|asm code|comments")
                                                  : QStringLiteral("line|asm code|comments");
    return QStringLiteral("address|asm code|comments");
}

} // namespace

void SectionTable::setColumnLayout(const QString& layout)
{
    m_columnLayout = layout;
    m_titles.clear();
    m_rightAligned.clear();
    for (const QString& part : layout.split(QLatin1Char('|'))) {
        const bool hex = part.startsWith(QLatin1Char('^'));
        QString title = hex ? part.mid(1) : part;
        m_rightAligned.append(hex || title.startsWith(QLatin1Char(' ')));
        m_titles.append(title.trimmed());
    }
}

SectionTable SectionTable::fromHeader(const QList<std::pair<QString, QString>>& fields)
{
    SectionTable table;
    table.m_fixedWidth = false;
    table.m_cutting = Cutting::Tab;
    table.setColumnLayout(QStringLiteral("description|value"));
    for (const auto& [name, value] : fields) {
        table.m_lines.append(name + QLatin1Char('\t') + value);
        table.m_raw += name + QLatin1String(": ") + value + QLatin1Char('\n');
    }
    return table;
}

SectionTable SectionTable::fromSections(const QList<std::pair<QString, QString>>& sections)
{
    SectionTable table;
    if (sections.isEmpty())
        return table;
    const QString first = BareName(sections.first().first);
    const QString content = sections.first().second;
    QList<std::pair<int, int>> sectionRows;
    for (const auto& [name, text] : sections) {
        if (sections.size() > 1) {
            table.m_sectionTitleRows.append(int(table.m_lines.size()));
            table.m_lines.append(name);
        }
        const int firstRow = int(table.m_lines.size());
        table.m_lines += SplitLines(text);
        sectionRows.append({firstRow, int(table.m_lines.size())});
        table.m_raw += (table.m_raw.isEmpty() ? QString() : QStringLiteral("\n\n")) +
                       (sections.size() > 1 ? name + QLatin1Char('\n') : QString()) + text;
    }

    if (content.startsWith(QLatin1String(">> will be")) || content.contains(QLatin1String(">> will be"))) {
        table.takeColumnsFromAlignment();
        return table;
    }
    if (first.contains(QLatin1Char('$')) || first.contains(QLatin1String("thread")) ||
        first.startsWith(QLatin1String("call stack")) || content.startsWith(QLatin1String(">> internal"))) {
        table.setColumnLayout(kCallStackColumns);
        table.m_cutting = Cutting::Stack;
        for (const auto& [firstRow, endRow] : sectionRows)
            table.findStackColumns(firstRow, endRow);
    } else if (first == QLatin1String("cpu registers"))
        table.setColumnLayout(QStringLiteral("reg.|content"));
    else if (first == QLatin1String("stack dump") || first == QLatin1String("memory dump"))
        table.setColumnLayout(QStringLiteral("address|data - hexadecimal|data - chars"));
    else if (first == QLatin1String("modules"))
        table.setColumnLayout(QStringLiteral("^handle|file name| version|path"));
    else if (first == QLatin1String("processes")) {
        if (!table.takeProcessColumns())
            table.setColumnLayout(ProcessColumns(table.m_lines));
    } else if (first == QLatin1String("disassembling"))
        table.setColumnLayout(DisassemblyColumns(table.m_lines));
    else
        table.takeColumnsFromAlignment();
    return table;
}

// Names and paths may hold blanks, and the priority "below normal" does, so the columns are found
// by what they hold: the priority where every line has one at the same position, the counts left
// of it where every line has a number at the same position.
bool SectionTable::takeProcessColumns()
{
    QList<int> rows;
    for (int row = 0; row < m_lines.size(); ++row)
        if (!m_lines[row].trimmed().isEmpty())
            rows.append(row);
    if (rows.isEmpty())
        return false;
    const QString& firstLine = m_lines[rows.first()];
    qsizetype priority = -1;
    for (qsizetype p = 1; p < firstLine.size() && priority < 0; ++p)
        if (std::all_of(rows.begin(), rows.end(), [&](int row) { return PriorityAt(m_lines[row], p); }))
            priority = p;
    const qsizetype nameStart = firstLine.indexOf(QLatin1Char(' ')) + 1;
    if (priority < 0 || nameStart <= 0 || nameStart >= priority)
        return false;

    QList<qsizetype> numbers; // where each count column starts, right to left
    qsizetype end = priority;
    while (numbers.size() < 3) {
        qsizetype start = -1;
        bool aligned = true;
        for (int row : std::as_const(rows)) {
            const QString before = m_lines[row].left(end);
            qsizetype last = before.size();
            while (last > 0 && before[last - 1] == QLatin1Char(' '))
                --last;
            if (last <= nameStart) {
                aligned = false;
                break;
            }
            const qsizetype blank = before.lastIndexOf(QLatin1Char(' '), last - 1);
            const QString word = before.mid(blank + 1, last - blank - 1);
            if (blank < nameStart || !NumberPattern().match(word).hasMatch() ||
                (start >= 0 && start != blank + 1)) {
                aligned = false;
                break;
            }
            start = blank + 1;
        }
        if (!aligned || start <= nameStart)
            break;
        numbers.prepend(start);
        end = start;
    }
    static const QString kLayouts[] = {
        QStringLiteral("^id|file name|priority|path"),
        QStringLiteral("^id|file name|session|priority|path"),
        QStringLiteral("^id|file name|gdi objects|user objects|priority|path"),
        QStringLiteral("^id|file name|session|gdi objects|user objects|priority|path"),
    };
    setColumnLayout(kLayouts[numbers.size()]);
    m_cutting = Cutting::Processes;
    m_starts = QList<qsizetype>{0, nameStart} + numbers + QList<qsizetype>{priority};

    // Processes with a program file (the user's and the system's services) first, kernel threads
    // and others without a path after them, each group in id order.
    std::stable_partition(m_lines.begin(), m_lines.end(), [this](const QString& line) {
        return !line.trimmed().isEmpty() && !cutProcessLine(line).last().isEmpty();
    });
    return true;
}

QStringList SectionTable::cutProcessLine(const QString& line) const
{
    const qsizetype priority = m_starts.last();
    QStringList cells;
    for (qsizetype c = 0; c + 1 < m_starts.size(); ++c)
        cells.append(line.mid(m_starts[c], m_starts[c + 1] - m_starts[c]).trimmed());
    const auto match = PriorityPattern().match(line, priority, QRegularExpression::NormalMatch,
                                               QRegularExpression::AnchorAtOffsetMatchOption);
    if (!match.hasMatch())
        return CutAtBlanks(line, columnCount());
    cells.append(match.captured(1));
    cells.append(line.mid(match.capturedEnd(1)).trimmed());
    return cells;
}

bool SectionTable::takeColumnsFromAlignment()
{
    // A boundary is a run of positions blank in every line; one line alone needs two blanks.
    qsizetype width = 0;
    int filled = 0;
    for (const QString& line : std::as_const(m_lines))
        if (!line.trimmed().isEmpty()) {
            width = std::max(width, line.size());
            ++filled;
        }
    if (filled == 0)
        return false;
    QList<bool> blank(width, true);
    for (const QString& line : std::as_const(m_lines)) {
        if (line.trimmed().isEmpty())
            continue;
        for (qsizetype i = 0; i < line.size(); ++i)
            if (!line[i].isSpace())
                blank[i] = false;
    }
    const qsizetype minimumGap = filled == 1 ? 2 : 1;
    QList<qsizetype> starts;
    qsizetype gap = 0;
    for (qsizetype i = 0; i < width; ++i) {
        if (blank[i]) {
            ++gap;
            continue;
        }
        if (starts.isEmpty() || gap >= minimumGap)
            starts.append(i);
        gap = 0;
    }
    // Real columns hold something in most lines; an indented tree or prose does not.
    for (qsizetype c = 0; c < starts.size() && starts.size() >= 2; ++c) {
        const qsizetype end = c + 1 < starts.size() ? starts[c + 1] : width;
        int used = 0;
        for (const QString& line : std::as_const(m_lines))
            if (!line.mid(starts[c], end - starts[c]).trimmed().isEmpty())
                ++used;
        if (2 * used <= filled)
            starts.clear();
    }
    if (starts.size() < 2 || filled < 2) {
        m_titles.clear();
        return false;
    }
    m_cutting = Cutting::Positions;
    m_starts = starts;
    // The first line of an aligned text names its columns.
    qsizetype titleRow = 0;
    while (m_lines[titleRow].trimmed().isEmpty())
        ++titleRow;
    const QString titleLine = m_lines[titleRow];
    m_lines.removeAt(titleRow);
    QStringList titles;
    for (qsizetype c = 0; c < starts.size(); ++c) {
        const qsizetype end = c + 1 < starts.size() ? starts[c + 1] : titleLine.size();
        titles.append(titleLine.mid(starts[c], end - starts[c]).trimmed());
    }
    setColumnLayout(titles.join(QLatin1Char('|')));
    return true;
}

void SectionTable::findStackColumns(int firstRow, int endRow)
{
    const int section = int(m_stackColumns.size());
    for (int row = int(m_rowSection.size()); row < endRow; ++row)
        m_rowSection.append(section);
    StackColumns columns;
    columns.starts = QList<qsizetype>(7, -1);
    QList<int> rows;
    for (int row = firstRow; row < endRow; ++row)
        if (IsStackRow(m_lines[row]))
            rows.append(row);
    if (rows.size() == 1)
        columns.singleRow = rows.first();
    if (rows.size() < 2) {
        m_stackColumns.append(columns);
        return;
    }

    // Columns are padded across the listing, so a column starts after a position blank in every
    // line. The location line ahead of the listing is written without that padding.
    auto boundaries = [this](const QList<int>& aligned) {
        qsizetype width = 0;
        for (int row : aligned)
            width = std::max(width, m_lines[row].size());
        QList<bool> blank(width, true);
        for (int row : aligned)
            for (qsizetype i = 0; i < m_lines[row].size(); ++i)
                if (!m_lines[row][i].isSpace())
                    blank[i] = false;
        QList<qsizetype> starts{0};
        for (qsizetype i = 1; i < width; ++i)
            if (blank[i - 1] && !blank[i])
                starts.append(i);
        return starts;
    };
    // Which of the seven columns each cut holds, by what its cells look like; the function takes
    // the rest of the line, blanks and all.
    auto assign = [this](const QList<int>& aligned, const QList<qsizetype>& starts) {
        QList<qsizetype> assigned(7, -1);
        assigned[0] = 0;
        int next = 1;
        for (qsizetype k = 1; k < starts.size() && next < 7; ++k) {
            const qsizetype end = k + 1 < starts.size() ? starts[k + 1] : -1;
            QStringList cutCells;
            for (int row : aligned)
                cutCells.append(m_lines[row].mid(starts[k], end < 0 ? -1 : end - starts[k]).trimmed());
            const bool last = k + 1 == starts.size();
            int column = 6;
            if (next == 1 && AllMatch(cutCells, OffsetPattern()))
                column = 1;
            else if (next <= 2)
                column = 2;
            else if (next <= 4 && AllMatch(cutCells, NumberPattern()))
                column = 4;
            else if (next == 3 && !last && AllMatch(cutCells, UnitPattern()))
                column = 3;
            else if (next == 5 && AllMatch(cutCells, RelativeLinePattern()))
                column = 5;
            assigned[column] = starts[k];
            next = column + 1;
        }
        return assigned;
    };
    columns.starts = assign(rows.mid(1), boundaries(rows.mid(1)));
    const QString& lead = m_lines[rows.first()];
    const bool leadFits =
        std::all_of(columns.starts.begin() + 1, columns.starts.end(), [&lead](qsizetype start) {
            return start < 0 || start > lead.size() || lead[start - 1].isSpace();
        });
    if (leadFits)
        columns.starts = assign(rows, boundaries(rows));
    else
        columns.singleRow = rows.first();
    m_stackColumns.append(columns);
}

QStringList SectionTable::cutStackLine(int row) const
{
    const QString& line = m_lines.at(row);
    const StackColumns& columns = m_stackColumns.at(m_rowSection.at(row));
    if (!IsStackRow(line)) { // a note or an error line
        QStringList cells(7);
        cells[6] = line.trimmed();
        return cells;
    }
    if (row == columns.singleRow || columns.starts.value(0) < 0)
        return CutSingleStackLine(line);
    QStringList cells;
    for (qsizetype c = 0; c < 7; ++c) {
        const qsizetype start = columns.starts[c];
        qsizetype end = -1;
        for (qsizetype n = c + 1; n < 7 && end < 0; ++n)
            end = columns.starts[n];
        cells.append(start < 0 ? QString() : line.mid(start, end < 0 ? -1 : end - start).trimmed());
    }
    return cells;
}

QStringList SectionTable::cells(int row) const
{
    const QString& line = m_lines.at(row);
    const int count = columnCount();
    if (isTitleRow(row)) {
        QStringList cells(count);
        cells[0] = line;
        return cells;
    }
    switch (m_cutting) {
    case Cutting::Tab: {
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        return {line.left(tab), tab < 0 ? QString() : line.mid(tab + 1)};
    }
    case Cutting::Positions: {
        QStringList cells;
        for (qsizetype c = 0; c < m_starts.size(); ++c) {
            const qsizetype end = c + 1 < m_starts.size() ? m_starts[c + 1] : line.size();
            cells.append(line.mid(m_starts[c], std::max<qsizetype>(0, end - m_starts[c])).trimmed());
        }
        return cells;
    }
    case Cutting::Stack:
        return cutStackLine(row);
    case Cutting::Processes:
        return cutProcessLine(line);
    case Cutting::Blanks:
        break;
    }
    return CutAtBlanks(line, count);
}

} // namespace crash::ui
