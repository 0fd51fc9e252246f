#pragma once

#include "engine/result_row.h"

#include <QAbstractTableModel>

#include <string>
#include <string_view>
#include <vector>

namespace tagsnip::ui {

// The text order of the list's sort: bytes compared as unsigned values, with only the ASCII
// letters a to z folded to capitals; a text that begins the other sorts first.
int compareListText(std::string_view first, std::string_view second);

// The rows of FileList. Rows that the walk adds wait in a batch until the window next shows its
// progress, so a run of 100,000 files does not relayout the view 100,000 times.
class ResultListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { fileNameColumn = 0, id3v1Column = 1, id3v2Column = 2, columnCount_ = 3 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AddRow(const ResultRow& row);
    // Shows the waiting rows.
    void flushPending();
    void removeAllRows();

    // Only rows already shown; a waiting row has no place in the view yet.
    const ResultRow& row(int position) const { return m_rows[static_cast<std::size_t>(position)]; }
    // Every row, shown or waiting.
    std::size_t totalRows() const { return m_rows.size() + m_pending.size(); }

    QString FileListInfoTip(int position) const;
    // Orders every row ascending by the text of column; rows that compare equal keep their order.
    void sortBy(int column);

private:
    std::vector<ResultRow> m_rows;
    std::vector<ResultRow> m_pending;
};

// The text of column for a row: its caption or one of its marks.
const std::string& columnText(const ResultRow& row, int column);

}  // namespace tagsnip::ui
