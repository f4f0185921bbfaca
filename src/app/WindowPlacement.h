// The main window's size and place, remembered in the settings file between
// runs.
#pragma once

#include <QList>
#include <QRect>

class QWidget;
struct TWindowPlacement;

// Restores the placement of the settings file: the size always (kept within
// the screen), the place only when a screen still shows the window's top
// (so that its title bar can be grabbed); otherwise it stays where it is.
void RestoreWindowPlacement(QWidget* window);
// Stores the placement; a failure is not reported (the window is closing).
void StoreWindowPlacement(const QWidget* window);

// Where a saved rectangle is shown, given the window's current one and the
// screens' available areas.
QRect PlaceOnScreens(const QRect& saved, const QRect& current, const QList<QRect>& screens);
