#include "ferrow/app/views/tag_list_model.h"

#include <algorithm>
#include <mutex>

#include "ferrow/app/views/tree_images.h"
#include "ferrow/app/views/value_text.h"
#include "ferrow/model/locks.h"
#include "ferrow/model/tag.h"

namespace ferrow {

using namespace platform::com;

int TagListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TagListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant TagListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return text(index.row(), index.column());
        case Qt::DecorationRole:
            if (index.column() == kName) return treeImage(kImageTag);
            return {};
        case kTagRole:
            return QVariant::fromValue(reinterpret_cast<quintptr>(row.tag));
        default:
            return {};
    }
}

QVariant TagListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kName:
            return QStringLiteral("Name");
        case kType:
            return QStringLiteral("Type");
        case kValue:
            return QStringLiteral("Value");
        default:
            return {};
    }
}

OTag* TagListModel::tagAt(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<std::size_t>(row)].tag : nullptr;
}

QString TagListModel::text(int row, int column) const {
    if (row < 0 || row >= rowCount()) return {};
    const Row& r = rows_[static_cast<std::size_t>(row)];
    switch (column) {
        case kName:
            return r.name;
        case kType:
            return r.access;
        case kValue:
            return r.value;
        default:
            return {};
    }
}

void TagListModel::Describe(Row& row) {
    row.name = QString::fromLatin1(row.tag->m_strName);
    row.access = QString::fromLatin1(static_cast<const OqnTag*>(row.tag)->AccessText());
}

void TagListModel::DeleteAllItems() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void TagListModel::SetTags(const std::vector<OTag*>& tags) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(tags.size());
    for (OTag* tag : tags) {
        Row row{tag, {}, {}, {}};
        Describe(row);
        rows_.push_back(std::move(row));
    }
    endResetModel();
}

void TagListModel::UpdateRow(const void* object) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (static_cast<const void*>(rows_[i].tag) != object) continue;
        Describe(rows_[i]);
        const int row = static_cast<int>(i);
        emit dataChanged(index(row, kName), index(row, kType));
        return;
    }
}

void TagListModel::RefreshValues() {
    struct Snapshot {
        VARIANT value;
        std::uint16_t quality;
        bool scaled;
    };
    std::vector<Snapshot> copies(rows_.size());
    {
        // One set per tag, all in one hold: the workers write value and quality together.
        std::lock_guard lock(valueLock());
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const OTag& tag = *rows_[i].tag;
            VariantInit(&copies[i].value);
            VariantCopy(&copies[i].value, &tag.m_value);
            copies[i].quality = tag.m_wQuality;
            copies[i].scaled = tag.m_bScaled != 0;
        }
    }
    int first = -1;
    int last = -1;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const OTag& tag = *rows_[i].tag;
        const std::string units =
            copies[i].scaled && tag.m_pAnalog ? tag.m_pAnalog->m_strUnits : std::string();
        QString value =
            QString::fromLatin1(ValueText(copies[i].value, copies[i].quality, copies[i].scaled, units));
        VariantClear(&copies[i].value);
        if (value == rows_[i].value) continue;
        rows_[i].value = std::move(value);
        if (first < 0) first = static_cast<int>(i);
        last = static_cast<int>(i);
    }
    if (first >= 0) emit dataChanged(index(first, kValue), index(last, kValue), {Qt::DisplayRole});
}

void TagListModel::Sort(int column, bool ascending) {
    if (column < 0 || column >= kColumns) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<OTag*> oldOrder;
    for (const Row& row : rows_) oldOrder.push_back(row.tag);
    const Qt::CaseSensitivity sensitivity = column == kName ? Qt::CaseInsensitive : Qt::CaseSensitive;
    std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
        const auto& ta = column == kName ? a.name : column == kType ? a.access : a.value;
        const auto& tb = column == kName ? b.name : column == kType ? b.access : b.value;
        const int order = QString::compare(ta, tb, sensitivity);
        return ascending ? order < 0 : order > 0;
    });
    QModelIndexList after;
    for (const QModelIndex& index : before) {
        OTag* tag = oldOrder[static_cast<std::size_t>(index.row())];
        int row = 0;
        while (rows_[static_cast<std::size_t>(row)].tag != tag) ++row;
        after.push_back(this->index(row, index.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace ferrow
