#include "ferrow/app/views/tag_view.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

#include "ferrow/app/views/tree_images.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"

namespace ferrow {

CTagView::CTagView(CDoc& doc, QWidget* parent) : QTreeView(parent), doc_(doc) {
    setObjectName(QStringLiteral("CTagView"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setFrameShape(QFrame::StyledPanel);
    setIconSize(QSize(kImageSize, kImageSize));
    setModel(&model_);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header()->setSectionsClickable(true);
    header()->setStretchLastSection(false);
    setColumnWidth(TagListModel::kName, 110);
    setColumnWidth(TagListModel::kType, 80);
    setColumnWidth(TagListModel::kValue, 80);
    connect(header(), &QHeaderView::sectionClicked, this, &CTagView::OnColumnClick);
    doc_.m_pTagView = this;

    valueTimer_.setInterval(kValuePeriod);
    connect(&valueTimer_, &QTimer::timeout, this, [this] { OnUpdate(kHintValues, nullptr); });

    tagMenu_ = new QMenu(QStringLiteral("Tag"), this);
    tagProperties_ = tagMenu_->addAction(QStringLiteral("Properties..."));
    tagProperties_->setEnabled(false);
}

CTagView::~CTagView() {
    if (doc_.m_pTagView == this) doc_.m_pTagView = nullptr;
}

void CTagView::OnUpdate(int hint, OTagGroup* object) {
    if (!doc_.m_pSelection) {
        model_.DeleteAllItems();
        return;
    }
    switch (hint) {
        case kHintRebuild:
        case kHintSelection:
            if (object)
                model_.UpdateRow(object);
            else
                Refill();
            break;
        case kHintValues:
            if (object)
                model_.UpdateRow(object);
            else
                model_.RefreshValues();
            break;
        case kHintClear:
            model_.DeleteAllItems();
            break;
        default:
            break;
    }
}

void CTagView::Refill() {
    // Tag lists change only on this thread: no document lock needed to read one here.
    std::vector<OTag*> tags;
    OTagGroup* selection = doc_.m_pSelection;
    ODevice* device = selection ? selection->GetDevice() : nullptr;
    if (selection && (!device || device->m_bTagsLoaded)) {
        tags.reserve(selection->m_tags.size());
        for (const auto& tag : selection->m_tags) tags.push_back(tag.get());
    }
    setUpdatesEnabled(false);
    model_.SetTags(tags);
    sortColumn_ = kNoSortColumn;
    header()->setSortIndicatorShown(false);
    setUpdatesEnabled(true);
}

void CTagView::OnColumnClick(int column) {
    const bool ascending = column != sortColumn_;
    model_.Sort(column, ascending);
    sortColumn_ = ascending ? column : kNoSortColumn;
}

void CTagView::SetValueTimer(bool running) {
    if (running)
        valueTimer_.start();
    else
        valueTimer_.stop();
}

void CTagView::contextMenuEvent(QContextMenuEvent* event) {
    tagMenu_->popup(event->globalPos());
    event->accept();
}

}  // namespace ferrow
