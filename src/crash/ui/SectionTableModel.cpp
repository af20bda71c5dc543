#include "crash/ui/SectionTableModel.h"

namespace crash::ui {

SectionTableModel::SectionTableModel(SectionTable table, QObject* parent)
    : QAbstractTableModel(parent), m_table(std::move(table))
{
}

int SectionTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.rowCount();
}

int SectionTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.columnCount();
}

QVariant SectionTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_table.cells(index.row()).value(index.column());
    if (role == Qt::TextAlignmentRole) {
        const bool right = m_table.rightAligned(index.column()) && !m_table.isTitleRow(index.row());
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant SectionTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return m_table.columnTitle(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignVCenter |
                                   (m_table.rightAligned(section) ? Qt::AlignRight : Qt::AlignLeft));
    return {};
}

} // namespace crash::ui
