#pragma once
// One tab of the details view as rows and columns.
//
// The report's sections are aligned plain text. The known sections have fixed column sets (call
// stacks, registers, stack dump, modules, processes, disassembly); any other section takes its
// columns from its own alignment: a column boundary is a run of positions that is blank in every
// line. Lines are kept as they are and cut into cells only when a cell is asked for, so a huge
// report costs one pass to find its lines and nothing per hidden row.
//
// Column titles carry marks: "^" is a right-aligned hexadecimal column, a leading blank a
// right-aligned one.

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace crash::ui {

class SectionTable
{
public:
    // The header: one "name<TAB>value" row per field.
    static SectionTable fromHeader(const QList<std::pair<QString, QString>>& fields);
    // The sections of one tab, each as (name, content). Several sections (the threads of the
    // call stack tab) follow each other, each introduced by a row holding its name.
    static SectionTable fromSections(const QList<std::pair<QString, QString>>& sections);

    // No columns: the tab shows rawText() instead.
    bool hasColumns() const { return !m_titles.isEmpty(); }
    bool fixedWidth() const { return m_fixedWidth; }
    int columnCount() const { return int(m_titles.size()); }
    int rowCount() const { return int(m_lines.size()); }
    QString columnTitle(int column) const { return m_titles.value(column); }
    bool rightAligned(int column) const { return m_rightAligned.value(column); }
    QStringList cells(int row) const;
    // A row that names one of several sections rather than holding cells.
    bool isTitleRow(int row) const { return m_sectionTitleRows.contains(row); }
    const QString& rawText() const { return m_raw; }
    // The column set in its marked form, e.g. "^address|^ rel.|module|unit| line| rel.|function".
    QString columnLayout() const { return m_columnLayout; }

private:
    enum class Cutting
    {
        Tab,       // name TAB value
        Blanks,    // runs of two or more blanks, else single blanks, the last column keeps the rest
        Positions, // fixed boundaries found from the alignment
        Stack,     // call-stack listings: boundaries found per section, see cutStackLine
        Processes, // id, name, numbers, priority and path, see takeProcessColumns
    };
    bool takeProcessColumns();
    QStringList cutProcessLine(const QString& line) const;
    // Where each of the seven call-stack columns starts in one section's aligned listing (-1:
    // not written), and the row written without that alignment (the exception location), if any.
    struct StackColumns
    {
        QList<qsizetype> starts;
        int singleRow = -1;
    };
    void findStackColumns(int firstRow, int endRow);
    QStringList cutStackLine(int row) const;
    void setColumnLayout(const QString& layout);
    bool takeColumnsFromAlignment();

    QStringList m_titles;
    QList<bool> m_rightAligned;
    QString m_columnLayout;
    QStringList m_lines;
    QList<int> m_sectionTitleRows;      // rows that hold a section name, shown in the first cell
    QList<qsizetype> m_starts;          // Positions: where each column starts
    QList<StackColumns> m_stackColumns; // Stack: one per section
    QList<int> m_rowSection;            // Stack: each row's index into m_stackColumns
    Cutting m_cutting = Cutting::Blanks;
    bool m_fixedWidth = true;
    QString m_raw;
};

} // namespace crash::ui
