#include "platform/ui/status_bar.h"

#include <QLabel>

namespace platform::ui {

namespace {
std::vector<StatusBar::Panel> numberedPanels(int panelCount) {
    std::vector<StatusBar::Panel> panels;
    for (int i = 1; i <= panelCount; ++i)
        panels.push_back({QStringLiteral("panel%1").arg(i), i == 1 ? 1 : 0});
    return panels;
}
}  // namespace

StatusBar::StatusBar(int panelCount, QWidget* parent) : StatusBar(numberedPanels(panelCount), parent) {}

StatusBar::StatusBar(const std::vector<Panel>& panels, QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    for (const Panel& panel : panels) addPanel(panel);
}

void StatusBar::addPanel(const Panel& panel) {
    auto* label = new QLabel(this);
    label->setObjectName(panel.objectName);
    label->setTextFormat(Qt::PlainText);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(40);
    addWidget(label, panel.stretch);
    panels_.push_back(label);
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

}  // namespace platform::ui
