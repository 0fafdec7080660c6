#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include "platform/net/tcp_client.h"
#include "vantor/files/dir_listing.h"

class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantor {
class ShellHost;
}

namespace vantor::files {

// The device directory browser: lists one device folder at a time over a short-lived second connection
// (`sckDir`), lets the user move through folders, make and delete them, sort, and pick a file name.
// One object serves the whole program and is reused on every opening. UI thread only.
class FCEBrowse : public QDialog {
    Q_OBJECT
  public:
    static constexpr std::chrono::milliseconds kListingWait{5000};
    // Far above any real folder's listing; a device that goes on sending past it is cut off.
    static constexpr qsizetype kMaxListing = 64 * 1024 * 1024;

    explicit FCEBrowse(ShellHost& host, QWidget* parent = nullptr);
    ~FCEBrowse() override;

    // Run the dialog with "Open" or "Delete" on its main button; false when it ended by Cancel or the
    // close box.
    bool ShowOpen();
    bool ShowDelete();

    QString FileName() const { return QString::fromLatin1(fileName_); }
    QString FilePath() const { return QString::fromLatin1(filePath_); }

    QTreeWidget* lvList;
    QComboBox* cmbPath;
    QLineEdit* txtFileName;
    QPushButton* cmdOpen;
    QPushButton* cmdCancel;
    QPushButton* cmdMkDir;
    QPushButton* cmdDel;
    QPushButton* cmdUpDir;
    QPushButton* cmdIcons;
    QPushButton* cmdDetails;
    QFrame* frmFile;
    QFrame* frmButtons;
    platform::net::TcpClient sckDir;

    // Handlers, named after control and event.
    void lvList_Click(QTreeWidgetItem* item);
    void lvList_DblClick(QTreeWidgetItem* item);
    void lvList_ColumnClick(int column);  // 1 Name, 2 Size, 3 Date, 4 Attributes
    void cmbPath_Click(int index);
    void cmdUpDir_Click();
    void cmdMkDir_Click();
    void cmdDel_Click();
    void cmdOpen_Click();
    void cmdCancel_Click();
    void cmdIcons_Click();
    void cmdDetails_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void reject() override;

  private:
    bool ShowDialog();
    bool ListDirectory();
    void sckDir_Close();
    void sckDir_DataArrival();
    void SetFileName(const QByteArray& text);
    void SetPathText(const QByteArray& text);
    void showRows(const std::vector<ListRow>& rows);
    std::vector<ListRow> currentRows() const;
    void applyTextSort();

    ShellHost& host_;
    QByteArray fileName_;
    QByteArray filePath_;    // empty until the first opening
    QByteArray listedPath_;  // the folder the list shows
    bool cancelled_ = false;
    bool listingClosed_ = false;
    bool listingTooLong_ = false;
    QByteArray dirBuffer_;
    DirHistory dirHistory_;
    bool settingPath_ = false;
    int lastSortColumn_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool textSorted_ = false;
};

}  // namespace vantor::files
