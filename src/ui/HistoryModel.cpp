#include "ui/HistoryModel.h"

namespace kavlento::ui {

namespace {
const QString kHeaders[] = {QStringLiteral("TARİH"), QStringLiteral("SAAT"),
                            QStringLiteral("YEDEKLEME YERİ")};
}

void HistoryModel::show(store::History history) {
    beginResetModel();
    history_ = std::move(history);
    endResetModel();
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(history_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return QVariant();
    }
    return history_.field(static_cast<std::size_t>(index.row()), index.column());
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 2) {
        return QVariant();
    }
    return kHeaders[section];
}

} // namespace kavlento::ui
