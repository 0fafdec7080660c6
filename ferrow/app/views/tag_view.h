#pragma once

#include <QTimer>
#include <QTreeView>
#include <chrono>

#include "ferrow/app/views/tag_list_model.h"
#include "ferrow/model/doc_view.h"

class QMenu;
class QAction;

namespace ferrow {

class CDoc;

// The tag list: the selected device's datapoints with their access and, while monitoring, their live
// values (refreshed by the 600 ms value timer). Column clicks sort. Registers itself as the document's
// tag view for its lifetime; the document outlives it. GUI thread only.
class CTagView : public QTreeView, public CDocView {
    Q_OBJECT
  public:
    static constexpr int kValueTimer = 45000;
    static constexpr std::chrono::milliseconds kValuePeriod{600};
    static constexpr int kNoSortColumn = -1;

    CTagView(CDoc& doc, QWidget* parent = nullptr);
    ~CTagView() override;

    void OnUpdate(int hint, OTagGroup* object) override;
    void SetValueTimer(bool running) override;

    TagListModel& rows() { return model_; }
    bool valueTimerRunning() const { return valueTimer_.isActive(); }
    int sortColumn() const { return sortColumn_; }
    // The column-click rule: another column sorts ascending and is remembered; the remembered one
    // sorts descending and is forgotten.
    void OnColumnClick(int column);
    QMenu* contextMenu() const { return tagMenu_; }
    QAction* propertiesAction() const { return tagProperties_; }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void Refill();

    CDoc& doc_;
    TagListModel model_;
    int sortColumn_ = kNoSortColumn;
    QTimer valueTimer_;
    QMenu* tagMenu_;
    QAction* tagProperties_;
};

}  // namespace ferrow
