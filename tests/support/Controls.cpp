#include "support/Controls.h"

#include <QAbstractItemModel>
#include <QTest>
#include <QTreeView>

namespace kavlento::testing {

namespace {
QTreeView* historyList(const QWidget& window) {
    return control<QTreeView>(window, "ListView1");
}
} // namespace

std::vector<QStringList> historyRows(const QWidget& window) {
    const QAbstractItemModel* model = historyList(window)->model();
    std::vector<QStringList> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c) {
            row.append(model->index(r, c).data().toString());
        }
        rows.push_back(row);
    }
    return rows;
}

QStringList historyHeaders(const QWidget& window) {
    const QAbstractItemModel* model = historyList(window)->model();
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c) {
        headers.append(model->headerData(c, Qt::Horizontal).toString());
    }
    return headers;
}

void clickHistoryRow(const QWidget& window, int row, int column) {
    QTreeView* list = historyList(window);
    const QRect rect = list->visualRect(list->model()->index(row, column));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

} // namespace kavlento::testing
