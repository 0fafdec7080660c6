#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

namespace ferrow {

class OTag;

// The rows of the tag list: per tag its name, access text and value text. The texts are kept here, so
// that painting never touches a tag; the values are brought up to date by RefreshValues, which copies
// every tag's value and quality under the value lock. GUI thread only; the tags outlive their rows
// (the document clears the list before it deletes a device).
class TagListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kName = 0, kType = 1, kValue = 2, kColumns = 3 };
    static constexpr int kTagRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void DeleteAllItems();
    // One row per tag in list order, value column empty.
    void SetTags(const std::vector<OTag*>& tags);
    // The row whose item is `object` (a tag) takes its name and access text again.
    void UpdateRow(const void* object);
    // The value column from the tags' current values and qualities.
    void RefreshValues();
    // Name ignores case; Type and Value order by the text shown. Equal keys keep their order.
    void Sort(int column, bool ascending);

    OTag* tagAt(int row) const;
    QString text(int row, int column) const;

  private:
    struct Row {
        OTag* tag;
        QString name;
        QString access;
        QString value;
    };
    static void Describe(Row& row);

    std::vector<Row> rows_;
};

}  // namespace ferrow
