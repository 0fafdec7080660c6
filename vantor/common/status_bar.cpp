#include "vantor/common/status_bar.h"

#include <QPointer>

namespace vantor {

namespace {
QPointer<StatusBar> theMainStatusBar;
}

StatusBar* mainStatusBar() { return theMainStatusBar.data(); }

void setMainStatusBar(StatusBar* bar) { theMainStatusBar = bar; }

}  // namespace vantor
