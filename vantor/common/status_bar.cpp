#include "vantor/common/status_bar.h"

#include <QLabel>
#include <QPointer>

namespace vantor {

namespace {
QPointer<StatusBar> theMainStatusBar;
}

StatusBar::StatusBar(int panelCount, QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    for (int i = 1; i <= panelCount; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("panel%1").arg(i));
        label->setTextFormat(Qt::PlainText);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setMinimumWidth(40);
        addWidget(label, i == 1 ? 1 : 0);
        panels_.push_back(label);
    }
}

QLabel* StatusBar::panel(int index) const {
    if (index < 1 || index > panelCount()) return nullptr;
    return panels_[static_cast<std::size_t>(index - 1)];
}

QString StatusBar::panelText(int index) const {
    QLabel* label = panel(index);
    return label ? label->text() : QString();
}

void StatusBar::setPanelText(int index, const QString& text) {
    if (QLabel* label = panel(index)) label->setText(text);
}

StatusBar* mainStatusBar() { return theMainStatusBar.data(); }

void setMainStatusBar(StatusBar* bar) { theMainStatusBar = bar; }

}  // namespace vantor
