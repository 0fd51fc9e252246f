#include "result_list_model.h"

#include "engine/ascii_case.h"

#include <algorithm>
#include <numeric>

namespace tagsnip::ui {

int compareListText(std::string_view first, std::string_view second) {
    const std::size_t common = std::min(first.size(), second.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int difference = static_cast<unsigned char>(upperAscii(first[i])) -
                               static_cast<unsigned char>(upperAscii(second[i]));
        if (difference != 0) {
            return difference;
        }
    }
    return static_cast<int>(first.size()) - static_cast<int>(second.size());
}

const std::string& columnText(const ResultRow& row, int column) {
    switch (column) {
        case ResultListModel::id3v1Column:
            return row.id3v1Mark;
        case ResultListModel::id3v2Column:
            return row.id3v2Mark;
        default:
            return row.caption;
    }
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromUtf8(columnText(row(index.row()), index.column()));
        case Qt::ToolTipRole:
            return FileListInfoTip(index.row());
        case Qt::TextAlignmentRole:
            return index.column() == fileNameColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                                    : QVariant(Qt::AlignHCenter | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        static const char* const captions[] = {"文件名", "ID3v1", "ID3v2"};
        return section >= 0 && section < columnCount_ ? QString::fromUtf8(captions[section])
                                                      : QVariant();
    }
    if (role == Qt::TextAlignmentRole) {
        return section == fileNameColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                         : QVariant(Qt::AlignHCenter | Qt::AlignVCenter);
    }
    return {};
}

void ResultListModel::AddRow(const ResultRow& row) {
    m_pending.push_back(row);
}

void ResultListModel::flushPending() {
    if (m_pending.empty()) {
        return;
    }
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(m_pending.size()) - 1);
    m_rows.insert(m_rows.end(), std::make_move_iterator(m_pending.begin()),
                  std::make_move_iterator(m_pending.end()));
    m_pending.clear();
    endInsertRows();
}

void ResultListModel::removeAllRows() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_pending.clear();
    endResetModel();
}

QString ResultListModel::FileListInfoTip(int position) const {
    return QString::fromUtf8(row(position).RowPath);
}

void ResultListModel::sortBy(int column) {
    flushPending();
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int first, int second) {
        return compareListText(columnText(m_rows[static_cast<std::size_t>(first)], column),
                               columnText(m_rows[static_cast<std::size_t>(second)], column)) < 0;
    });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<ResultRow> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPosition(m_rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[i])]));
        newPosition[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_rows = std::move(sorted);
    // The focused row and the selection follow their rows to the new places.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
        after.push_back(index(newPosition[static_cast<std::size_t>(old.row())], old.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace tagsnip::ui
