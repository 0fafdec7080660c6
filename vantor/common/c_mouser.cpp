#include "vantor/common/c_mouser.h"

#include <QApplication>
#include <QCursor>

namespace vantor {

namespace {
const char* const kPointerProperty = "MousePointer";
int screenPointer = pointer::Default;

Qt::CursorShape shapeFor(int value) {
    switch (value) {
        case pointer::Cross:
            return Qt::CrossCursor;
        case pointer::IBeam:
            return Qt::IBeamCursor;
        case pointer::SizeNESW:
            return Qt::SizeBDiagCursor;
        case pointer::SizeNS:
            return Qt::SizeVerCursor;
        case pointer::SizeNWSE:
            return Qt::SizeFDiagCursor;
        case pointer::SizeWE:
            return Qt::SizeHorCursor;
        case pointer::UpArrow:
            return Qt::UpArrowCursor;
        case pointer::Hourglass:
            return Qt::WaitCursor;
        case pointer::NoDrop:
            return Qt::ForbiddenCursor;
        case pointer::ArrowHourglass:
            return Qt::BusyCursor;
        case pointer::ArrowQuestion:
            return Qt::WhatsThisCursor;
        case pointer::SizeAll:
            return Qt::SizeAllCursor;
        default:
            return Qt::ArrowCursor;
    }
}
}  // namespace

int MousePointer(QWidget* target) {
    if (!target) return screenPointer;
    return target->property(kPointerProperty).toInt();
}

void setMousePointer(QWidget* target, int value) {
    if (!target) {
        // The screen keeps at most one entry of its own on the application's override-cursor stack.
        if (screenPointer != pointer::Default) QApplication::restoreOverrideCursor();
        screenPointer = value;
        if (value != pointer::Default) QApplication::setOverrideCursor(QCursor(shapeFor(value)));
        return;
    }
    target->setProperty(kPointerProperty, value);
    if (value == pointer::Default)
        target->unsetCursor();
    else
        target->setCursor(shapeFor(value));
}

CMouser::~CMouser() { ReleaseLinks(); }

void CMouser::SetCursor(QWidget* target, int value) {
    ReleaseLinks();
    holding_ = true;
    screen_ = target == Screen;
    window_ = target;
    saved_ = MousePointer(target);
    setMousePointer(target, value);
}

void CMouser::ReleaseLinks() {
    if (!holding_) return;
    holding_ = false;
    if (screen_)
        setMousePointer(Screen, saved_);
    else if (window_)
        setMousePointer(window_, saved_);
    window_ = nullptr;
}

}  // namespace vantor
