#pragma once

#include <QRect>
#include <QSize>
#include <QtGlobal>
#include <vector>

namespace vantor {

inline constexpr int kTwipsPerPixel = 15;
inline int toTwips(int pixels) { return pixels * kTwipsPerPixel; }
inline int toPixels(int twips) { return twips / kTwipsPerPixel; }

// Keeps controls at the distances from the window's right and bottom edges they had at start-up.
// Everything in twips, positions relative to each control's container, as the window records them.
// Pure arithmetic; the window applies the results.
class WindowLayout {
  public:
    enum Rule : unsigned {
        MoveLeft = 1,     // the right margin is kept by moving
        SizeWidth = 2,    // ... by sizing
        MoveTop = 4,      // the bottom margin is kept by moving
        SizeHeight = 8,   // ... by sizing
        Hysteresis = 16,  // with SizeHeight: grow only by more than 200, shrink only by more than 100
    };
    static constexpr int kGrowThreshold = 200;
    static constexpr int kShrinkThreshold = 100;

    // Records a control's margins for a form of `form` twips; returns the control's number.
    int record(unsigned rules, const QRect& control, QSize form);
    // Where control `index`, now at `current`, goes in a form of `form` twips. Sizes never go below 0
    // (a minimized window has a tiny form).
    QRect place(int index, const QRect& current, QSize form) const;

    qint16 rightMargin(int index) const { return entries_[static_cast<std::size_t>(index)].right; }
    qint16 bottomMargin(int index) const { return entries_[static_cast<std::size_t>(index)].bottom; }

  private:
    struct Entry {
        unsigned rules;
        qint16 right;
        qint16 bottom;
    };
    std::vector<Entry> entries_;
};

}  // namespace vantor
