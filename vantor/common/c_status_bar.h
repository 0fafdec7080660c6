#pragma once

#include <QPointer>
#include <QString>

#include "vantor/common/status_bar.h"

namespace vantor {

// Writes one panel of a status bar and, when asked, puts the panel's old text back when it ends.
// Created on the stack for one status message or for the length of an operation; UI thread only.
class CStatusBar {
  public:
    // Bound to panel 1 of the main window's status bar; the text is not restored at the end.
    CStatusBar();
    ~CStatusBar();
    CStatusBar(const CStatusBar&) = delete;
    CStatusBar& operator=(const CStatusBar&) = delete;

    // Binds to panel `index` (from 1) of `statusBar` and saves its text; the text is restored at the end.
    void Init(StatusBar* statusBar, int index);

    QString Text() const;
    void setText(const QString& text);
    bool Reset() const { return reset_; }
    void setReset(bool reset) { reset_ = reset; }

  private:
    void bind(StatusBar* statusBar, int index);

    QPointer<StatusBar> bar_;  // the bar may go before us (its window closed)
    int index_ = 1;
    QString saved_;
    bool reset_ = false;
};

}  // namespace vantor
