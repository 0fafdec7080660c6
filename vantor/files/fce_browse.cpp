#include "vantor/files/fce_browse.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

#include "platform/ui/dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "vantor/common/c_mouser.h"
#include "vantor/common/shell_host.h"

namespace vantor::files {

namespace mb = platform::ui::mb;
using platform::net::TcpClient;

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kDateColumn = 2;
// Twips of the layout, as pixels (15 twips each).
constexpr int kListGap = 240 / 15;
constexpr int kBottomGap = 120 / 15;
constexpr int kListTop = 40;

QPushButton* button(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
}  // namespace

FCEBrowse::FCEBrowse(ShellHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setObjectName(QStringLiteral("FCEBrowse"));
    setWindowTitle(QStringLiteral("Directory view (CE)"));
    setModal(true);

    auto* searchLabel = new QLabel(QStringLiteral("Search in:"), this);
    searchLabel->setGeometry(8, 10, 62, 22);
    cmbPath = new QComboBox(this);
    cmbPath->setObjectName(QStringLiteral("cmbPath"));
    cmbPath->setEditable(true);
    cmbPath->setInsertPolicy(QComboBox::NoInsert);
    searchLabel->setBuddy(cmbPath);
    cmdUpDir = button({}, "cmdUpDir", this);
    cmdUpDir->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    cmdUpDir->setToolTip(QStringLiteral("Up one level"));
    cmdUpDir->setAccessibleName(QStringLiteral("Up one level"));
    cmdIcons = button({}, "cmdIcons", this);
    cmdIcons->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
    cmdIcons->setToolTip(QStringLiteral("List"));
    cmdIcons->setAccessibleName(QStringLiteral("Show as list"));
    cmdDetails = button({}, "cmdDetails", this);
    cmdDetails->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    cmdDetails->setToolTip(QStringLiteral("Details"));
    cmdDetails->setAccessibleName(QStringLiteral("Show details"));

    lvList = new QTreeWidget(this);
    lvList->setObjectName(QStringLiteral("lvList"));
    lvList->setAccessibleName(QStringLiteral("Device files"));
    lvList->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date"),
                             QStringLiteral("Attributes")});
    lvList->setRootIsDecorated(false);
    lvList->setUniformRowHeights(true);
    lvList->setColumnWidth(0, 190);
    lvList->setColumnWidth(1, 190);
    lvList->setColumnWidth(2, 170);
    lvList->header()->setSectionsClickable(true);
    QFont fixed = lvList->font();
    fixed.setStyleHint(QFont::Monospace);
    fixed.setFamily(QStringLiteral("Monospace"));
    lvList->setFont(fixed);  // the Size column is right-aligned with blanks

    frmFile = new QFrame(this);
    frmFile->setObjectName(QStringLiteral("frmFile"));
    frmFile->resize(330, 64);
    auto* fileLabel = new QLabel(QStringLiteral("Filename:"), frmFile);
    txtFileName = new QLineEdit(frmFile);
    txtFileName->setObjectName(QStringLiteral("txtFileName"));
    fileLabel->setBuddy(txtFileName);
    auto* fileLayout = new QGridLayout(frmFile);
    fileLayout->addWidget(fileLabel, 0, 0);
    fileLayout->addWidget(txtFileName, 0, 1);

    frmButtons = new QFrame(this);
    frmButtons->setObjectName(QStringLiteral("frmButtons"));
    frmButtons->resize(200, 64);
    cmdOpen = button(QStringLiteral("Open"), "cmdOpen", frmButtons);
    cmdCancel = button(QStringLiteral("Cancel"), "cmdCancel", frmButtons);
    cmdMkDir = button(QStringLiteral("New Folder"), "cmdMkDir", frmButtons);
    cmdDel = button(QStringLiteral("Delete"), "cmdDel", frmButtons);
    auto* buttonLayout = new QGridLayout(frmButtons);
    buttonLayout->setContentsMargins(0, 0, 0, 0);
    buttonLayout->addWidget(cmdOpen, 0, 0);
    buttonLayout->addWidget(cmdCancel, 1, 0);
    buttonLayout->addWidget(cmdMkDir, 0, 1);
    buttonLayout->addWidget(cmdDel, 1, 1);
    cmdOpen->setDefault(true);

    sckDir.setObjectName(QStringLiteral("sckDir"));
    connect(&sckDir, &TcpClient::dataArrival, this, &FCEBrowse::sckDir_DataArrival);
    connect(&sckDir, &TcpClient::closed, this, &FCEBrowse::sckDir_Close);
    // Errors of the listing connection are left to the listing's time limit.

    connect(lvList, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { lvList_Click(item); });
    connect(lvList, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { lvList_DblClick(item); });
    connect(lvList, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { lvList_Click(item); });
    connect(lvList->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { lvList_ColumnClick(section + 1); });
    connect(cmbPath, &QComboBox::activated, this, &FCEBrowse::cmbPath_Click);
    connect(txtFileName, &QLineEdit::textEdited, this,
            [this](const QString& text) { fileName_ = text.toLatin1(); });
    connect(cmdUpDir, &QPushButton::clicked, this, &FCEBrowse::cmdUpDir_Click);
    connect(cmdMkDir, &QPushButton::clicked, this, &FCEBrowse::cmdMkDir_Click);
    connect(cmdDel, &QPushButton::clicked, this, &FCEBrowse::cmdDel_Click);
    connect(cmdOpen, &QPushButton::clicked, this, &FCEBrowse::cmdOpen_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FCEBrowse::cmdCancel_Click);
    connect(cmdIcons, &QPushButton::clicked, this, &FCEBrowse::cmdIcons_Click);
    connect(cmdDetails, &QPushButton::clicked, this, &FCEBrowse::cmdDetails_Click);

    resize(680, 420);
}

FCEBrowse::~FCEBrowse() = default;

bool FCEBrowse::ShowOpen() {
    cmdOpen->setText(QStringLiteral("Open"));
    return ShowDialog();
}

bool FCEBrowse::ShowDelete() {
    cmdOpen->setText(QStringLiteral("Delete"));
    return ShowDialog();
}

bool FCEBrowse::ShowDialog() {
    cancelled_ = false;
    SetFileName({});
    filePath_ = "\\";
    listedPath_ = filePath_;
    lvList->clear();
    cmbPath->clear();
    dirHistory_.clear();
    dirHistory_.add(".\\", ".");
    if (!ListDirectory()) return true;
    exec();
    if (sckDir.state() != TcpClient::Closed) sckDir.Close();
    return !cancelled_;
}

bool FCEBrowse::ListDirectory() {
    CMouser mouser;
    mouser.SetBusy(Screen);
    listingClosed_ = false;
    listingTooLong_ = false;
    if (!host_.sckShell().SendData("dir " + filePath_ + "\r\n")) {
        platform::ui::msgBox(QStringLiteral("Failed sending dir command !"), mb::OkOnly);
        return false;
    }
    // A listing still under way belongs to a folder we have left.
    sckDir.Close();
    sckDir.setLocalPort(0);
    dirBuffer_.clear();
    sckDir.Connect(host_.HostIP(), host_.HostPort());
    // An empty folder is a close without data: no need to sit out the whole limit for it.
    platform::ui::waitUntil([this] { return !dirBuffer_.isEmpty() || listingClosed_ || listingTooLong_; },
                            platform::scaled(kListingWait));
    if (listingTooLong_) return false;  // already reported
    if (!dirBuffer_.isEmpty() || listingClosed_) return true;
    mouser.ReleaseLinks();
    platform::ui::msgBox(QStringLiteral("*** ERROR: Timeout for Dir lookup"));
    sckDir.Close();
    return false;
}

void FCEBrowse::sckDir_DataArrival() {
    dirBuffer_ += sckDir.GetData();
    if (dirBuffer_.size() <= kMaxListing) return;
    // The list keeps what it shows, and the path goes back to it; the listing failed as one that never came.
    sckDir.Close();
    dirBuffer_ = QByteArray();
    listingTooLong_ = true;
    filePath_ = listedPath_;
    platform::ui::msgBox(QStringLiteral("*** ERROR: Timeout for Dir lookup"));
}

void FCEBrowse::sckDir_Close() {
    listingClosed_ = true;
    CMouser mouser;
    mouser.SetBusy(Screen);
    dirBuffer_ += sckDir.GetData();
    const std::vector<ListRow> rows = listingRows(dirBuffer_, filePath_, dirHistory_);
    showRows(rows);
    listedPath_ = filePath_;
    if (textSorted_) applyTextSort();
    settingPath_ = true;
    cmbPath->clear();
    for (const auto& [name, fullName] : dirHistory_.entries())
        cmbPath->addItem(QString::fromLatin1(fullName));
    settingPath_ = false;
    sckDir.Close();
    SetPathText(filePath_.chopped(1));
}

void FCEBrowse::showRows(const std::vector<ListRow>& rows) {
    lvList->clear();
    const QIcon images[] = {style()->standardIcon(QStyle::SP_DirIcon),
                            style()->standardIcon(QStyle::SP_FileIcon)};
    QList<QTreeWidgetItem*> items;
    for (const ListRow& row : rows) {
        auto* item =
            new QTreeWidgetItem({QString::fromLatin1(row.text), QString::fromLatin1(row.size),
                                 QString::fromLatin1(row.date), QString::fromLatin1(row.attributes)});
        item->setData(0, kKeyRole, row.key);
        item->setData(0, kKindRole, QByteArray(1, row.kind));
        item->setData(0, kImageRole, row.image);
        item->setIcon(0, images[row.image == 1 ? 0 : 1]);
        items.push_back(item);
    }
    lvList->addTopLevelItems(items);
}

std::vector<ListRow> FCEBrowse::currentRows() const {
    std::vector<ListRow> rows;
    for (int i = 0; i < lvList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvList->topLevelItem(i);
        ListRow row;
        row.key = item->data(0, kKeyRole).toByteArray();
        row.text = item->text(0).toLatin1();
        row.kind = item->data(0, kKindRole).toByteArray().at(0);
        row.image = item->data(0, kImageRole).toInt();
        row.size = item->text(1).toLatin1();
        row.date = item->text(2).toLatin1();
        row.attributes = item->text(3).toLatin1();
        rows.push_back(row);
    }
    return rows;
}

void FCEBrowse::SetFileName(const QByteArray& text) {
    fileName_ = text;
    txtFileName->setText(QString::fromLatin1(text));
}

void FCEBrowse::SetPathText(const QByteArray& text) {
    settingPath_ = true;
    cmbPath->setEditText(QString::fromLatin1(text));
    settingPath_ = false;
}

void FCEBrowse::lvList_Click(QTreeWidgetItem* item) {
    if (item && item->data(0, kKindRole).toByteArray() == "F") SetFileName(item->text(0).toLatin1());
}

void FCEBrowse::lvList_DblClick(QTreeWidgetItem* item) {
    if (!item) return;
    if (item->data(0, kKindRole).toByteArray() == "D") {
        QByteArray path = item->data(0, kKeyRole).toByteArray();
        if (!path.endsWith('\\')) path += '\\';
        const QByteArray previous = std::exchange(filePath_, path);
        // The list still shows the old folder when the listing fails: keep the path that belongs to it,
        // so that Delete and New Folder act where the user sees.
        if (!ListDirectory()) filePath_ = previous;
    } else {
        SetFileName(item->text(0).toLatin1());
        accept();
    }
}

void FCEBrowse::cmbPath_Click(int index) {
    if (settingPath_ || index < 0) return;
    const QByteArray previous = std::exchange(filePath_, cmbPath->itemText(index).toLatin1() + '\\');
    if (!ListDirectory()) filePath_ = previous;
}

void FCEBrowse::cmdUpDir_Click() {
    const qsizetype p = filePath_.lastIndexOf('\\', filePath_.size() - 2);
    if (filePath_.size() < 2 || p < 0) return;  // at the root
    const QByteArray previous = std::exchange(filePath_, filePath_.left(p + 1));
    if (!ListDirectory()) filePath_ = previous;
}

void FCEBrowse::cmdMkDir_Click() {
    host_.sckShell().SendData("makedir " + filePath_ + fileName_ + "\r\n");
    ListDirectory();
}

void FCEBrowse::cmdDel_Click() {
    QTreeWidgetItem* item = lvList->currentItem();
    if (!item || !item->isSelected()) return;
    if (item->data(0, kKindRole).toByteArray() == "D")
        host_.sckShell().SendData("deldir " + filePath_ + item->text(0).toLatin1() + "\r\n");
    else
        host_.sckShell().SendData("delfile " + filePath_ + fileName_ + "\r\n");
    ListDirectory();
}

void FCEBrowse::cmdOpen_Click() { accept(); }

void FCEBrowse::cmdCancel_Click() {
    cancelled_ = true;
    QDialog::reject();
}

void FCEBrowse::reject() { cmdCancel_Click(); }  // Escape: as Cancel

void FCEBrowse::closeEvent(QCloseEvent* event) {
    // Our own endings (Open, Cancel, a file double-click) finish the dialog without a close event.
    cancelled_ = true;
    QDialog::closeEvent(event);
}

void FCEBrowse::cmdIcons_Click() {
    lvList->setHeaderHidden(true);
    for (int c = 1; c < 4; ++c) lvList->setColumnHidden(c, true);
}

void FCEBrowse::cmdDetails_Click() {
    lvList->setHeaderHidden(false);
    for (int c = 1; c < 4; ++c) lvList->setColumnHidden(c, false);
}

void FCEBrowse::lvList_ColumnClick(int column) {
    sortOrder_ = column == lastSortColumn_ && sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                               : Qt::AscendingOrder;
    lastSortColumn_ = column;
    if (column == kDateColumn + 1) {
        textSorted_ = false;
        std::vector<ListRow> rows = currentRows();
        sortRowsByDate(rows, sortOrder_ == Qt::DescendingOrder);
        showRows(rows);
        lvList->header()->setSortIndicator(kDateColumn, sortOrder_);
        return;
    }
    textSorted_ = true;
    applyTextSort();
}

void FCEBrowse::applyTextSort() {
    lvList->sortItems(lastSortColumn_ - 1, sortOrder_);
    lvList->header()->setSortIndicator(lastSortColumn_ - 1, sortOrder_);
}

void FCEBrowse::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int w = width();
    const int h = height();
    cmbPath->setGeometry(72, 8, std::max(60, w - 72 - 3 * 30 - 8), 26);
    cmdUpDir->setGeometry(w - 3 * 30 - 4, 8, 28, 26);
    cmdIcons->setGeometry(w - 2 * 30 - 4, 8, 28, 26);
    cmdDetails->setGeometry(w - 30 - 4, 8, 28, 26);
    frmFile->move(8, frmFile->y());
    if (w > frmButtons->width() + frmFile->width() + 16)
        frmButtons->move(w - frmButtons->width() - 8, frmButtons->y());
    else
        frmButtons->move(frmFile->x() + frmFile->width(), frmButtons->y());
    const int listHeight = h - kListTop - frmButtons->height() - kListGap;
    lvList->setGeometry(0, kListTop, w, listHeight > 0 ? listHeight : lvList->height());
    if (listHeight > 0) {
        const int top = h - frmButtons->height() - kBottomGap;
        frmFile->move(frmFile->x(), top);
        frmButtons->move(frmButtons->x(), top);
    }
}

}  // namespace vantor::files
