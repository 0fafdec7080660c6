#pragma once

#include <QWidget>
#include <chrono>

namespace ferrow {

// The splash screen: a borderless picture in the middle of the screen that closes itself after three
// seconds or at the first key or mouse press anywhere in the program (which it swallows). Only one
// exists at a time. User-interface thread.
class CSplashWnd : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::chrono::milliseconds kShowTime{3000};

    // Shows the splash screen unless one is already up.
    static void ShowSplashScreen();
    // The splash screen on the screen, or null.
    static CSplashWnd* current();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    CSplashWnd();
    ~CSplashWnd() override;
    void Forget();

    QPixmap picture_;
};

}  // namespace ferrow
