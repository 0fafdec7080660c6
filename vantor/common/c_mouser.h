#pragma once

#include <QPointer>
#include <QWidget>

namespace vantor {

// Mouse pointer values as the windows use them (0 = the default pointer of the target).
namespace pointer {
inline constexpr int Default = 0;
inline constexpr int Arrow = 1;
inline constexpr int Cross = 2;
inline constexpr int IBeam = 3;
inline constexpr int SizeNESW = 6;
inline constexpr int SizeNS = 7;
inline constexpr int SizeNWSE = 8;
inline constexpr int SizeWE = 9;
inline constexpr int UpArrow = 10;
inline constexpr int Hourglass = 11;
inline constexpr int NoDrop = 12;
inline constexpr int ArrowHourglass = 13;
inline constexpr int ArrowQuestion = 14;
inline constexpr int SizeAll = 15;
}  // namespace pointer

// The target that stands for the whole screen: every window of the program.
inline QWidget* const Screen = nullptr;

// A target's current pointer value; nullptr is the screen.
int MousePointer(QWidget* target);
void setMousePointer(QWidget* target, int value);

// Shows another mouse pointer (usually the hourglass) and puts the previous one back when it is released
// or ends. UI thread only.
class CMouser {
  public:
    CMouser() = default;
    ~CMouser();
    CMouser(const CMouser&) = delete;
    CMouser& operator=(const CMouser&) = delete;

    void SetBusy(QWidget* target) { SetCursor(target, pointer::Hourglass); }
    void SetCursor(QWidget* target, int value);
    void ReleaseLinks();

  private:
    bool holding_ = false;
    bool screen_ = false;
    QPointer<QWidget> window_;
    int saved_ = pointer::Default;
};

}  // namespace vantor
