#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantor {

// "Adjust time & date": shows the device's clock reply split into date and time, checks what the user
// typed and returns "h:m:s d.m.yyyy", or empty text when cancelled. UI thread.
class FClock : public QDialog {
    Q_OBJECT
  public:
    explicit FClock(QWidget* owner = nullptr);

    QString SetClock(const QString& current);
    QString result() const { return result_; }

    QLabel* lblDate;
    QLineEdit* txtDate;
    QLabel* lblTime;
    QLineEdit* txtTime;
    QPushButton* cmdSet;
    QPushButton* cmdCancel;

    void cmdSet_Click();
    void cmdCancel_Click();

  private:
    QString result_;
};

}  // namespace vantor
