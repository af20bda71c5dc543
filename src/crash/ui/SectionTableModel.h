#pragma once
// A details tab's rows for a QTableView; cells are cut from the lines on demand.

#include "crash/ui/SectionTable.h"

#include <QAbstractTableModel>

namespace crash::ui {

class SectionTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit SectionTableModel(SectionTable table, QObject* parent = nullptr);

    const SectionTable& table() const { return m_table; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    SectionTable m_table;
};

} // namespace crash::ui
