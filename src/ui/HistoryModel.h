#pragma once

#include "store/History.h"

#include <QAbstractTableModel>

namespace kavlento::ui {

// The history list's rows: date, time and archive location of every record,
// decoded only when a row is drawn.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void show(store::History history);
    const store::History& history() const { return history_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    store::History history_;
};

} // namespace kavlento::ui
