#pragma once

#include <QStatusBar>
#include <QString>
#include <vector>

class QLabel;

namespace platform::ui {

// A status bar made of panels that hold their text (labels, not transient messages), so that screen
// readers and tests can read them: a panel's accessible name is the text it shows. Panels are numbered
// from 1 and drawn sunken.
class StatusBar : public QStatusBar {
    Q_OBJECT
  public:
    // One panel: the objectName code and tests find it by, and its share of the spare width (0: none).
    struct Panel {
        QString objectName;
        int stretch = 0;
    };

    // `panelCount` panels named panel1, panel2, …; the first one takes the spare width.
    explicit StatusBar(int panelCount = 1, QWidget* parent = nullptr);
    explicit StatusBar(const std::vector<Panel>& panels, QWidget* parent = nullptr);

    int panelCount() const { return static_cast<int>(panels_.size()); }
    // nullptr for an index outside 1..panelCount().
    QLabel* panel(int index) const;
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);

  private:
    void addPanel(const Panel& panel);

    std::vector<QLabel*> panels_;
};

}  // namespace platform::ui
