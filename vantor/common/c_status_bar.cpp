#include "vantor/common/c_status_bar.h"

namespace vantor {

CStatusBar::CStatusBar() { bind(mainStatusBar(), 1); }

CStatusBar::~CStatusBar() {
    if (reset_ && bar_) bar_->setPanelText(index_, saved_);
}

void CStatusBar::Init(StatusBar* statusBar, int index) {
    bind(statusBar, index);
    reset_ = true;
}

void CStatusBar::bind(StatusBar* statusBar, int index) {
    bar_ = statusBar;
    index_ = index;
    saved_ = bar_ ? bar_->panelText(index_) : QString();
}

QString CStatusBar::Text() const { return bar_ ? bar_->panelText(index_) : QString(); }

void CStatusBar::setText(const QString& text) {
    if (bar_) bar_->setPanelText(index_, text);
}

}  // namespace vantor
