#pragma once

#include <QStatusBar>
#include <vector>

class QLabel;

namespace vantor {

// A status bar made of panels that hold their text (labels, not transient messages), so that screen
// readers and tests can read them. Panels are numbered from 1; the first one stretches.
class StatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusBar(int panelCount = 1, QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    // nullptr for an index outside 1..panelCount().
    QLabel* panel(int index) const;
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);

private:
    std::vector<QLabel*> panels_;
};

// The main window's status bar, which a CStatusBar binds to when it is created; set by the main window.
StatusBar* mainStatusBar();
void setMainStatusBar(StatusBar* bar);

}  // namespace vantor
