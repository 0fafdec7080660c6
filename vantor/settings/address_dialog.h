#pragma once

#include <QDialog>
#include <QString>

#include "vantor/settings/setting_rules.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vantor {

// What the three address dialogs share: one address box, a "set persistent" box, Set and Cancel.
// The operation fills the box, shows the dialog modally and returns "-p " + address (persistent) or the
// address, or empty text when the user cancelled. UI thread.
class AddressDialog : public QDialog {
    Q_OBJECT
  public:
    struct Design {
        const char* caption;
        const char* editName;
        const char* label;
        const char* persistCaption;  // the check box's own caption
        const char* persistLabel;    // a label beside it, or nullptr
        const char* persistTip;      // or nullptr
        const char* setName;
        const char* cancelName;
        settings::AddressKind kind;
    };

    AddressDialog(const Design& design, QWidget* owner);

    QString result() const { return result_; }

  protected:
    QString run(const QString& current);
    // Asked before the address is checked; false keeps the dialog open without a word.
    virtual bool confirmSet() { return true; }

    void set_Click();
    void cancel_Click();

    QLineEdit* edit_;
    QCheckBox* persist_;
    QLabel* persistLabel_ = nullptr;
    QPushButton* set_;
    QPushButton* cancel_;

  private:
    settings::AddressKind kind_;
    QString result_;
};

}  // namespace vantor
