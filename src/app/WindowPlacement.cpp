// The main window's size and place, kept in the settings file.
#include "app/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cstdio>
#include <exception>

#include "config/Settings.h"

QRect PlaceOnScreens(const QRect& saved, const QRect& current, const QList<QRect>& screens) {
  // The top strip of the client area, just below the title bar: enough of it
  // on a screen means the user can reach the window.
  constexpr int kReachable = 40;
  const QRect top(saved.left(), saved.top(), saved.width(), kReachable);
  for (const QRect& screen : screens) {
    const QRect shown = screen.intersected(top);
    if (shown.width() < kReachable || shown.height() < kReachable / 2) continue;
    QRect r = saved;
    r.setSize(r.size().boundedTo(screen.size()));
    return r;
  }
  // Not on any screen now (a screen was unplugged): the size only.
  QRect r = current;
  QSize size = saved.size();
  for (const QRect& screen : screens)
    if (screen.contains(current.center())) size = size.boundedTo(screen.size());
  r.setSize(size);
  r.moveCenter(current.center());
  return r;
}

void RestoreWindowPlacement(QWidget* window) {
  TWindowPlacement p;
  if (!LoadWindowPlacement(p)) return;
  QList<QRect> screens;
  for (const QScreen* s : QGuiApplication::screens()) screens << s->availableGeometry();
  window->setGeometry(
      PlaceOnScreens(QRect(p.Left, p.Top, p.Width, p.Height), window->geometry(), screens));
  if (p.Maximized) window->setWindowState(window->windowState() | Qt::WindowMaximized);
}

void StoreWindowPlacement(const QWidget* window) {
  const bool maximized = window->isMaximized();
  const QRect r = maximized ? window->normalGeometry() : window->geometry();
  if (!r.isValid()) return;
  try {
    SaveWindowPlacement({r.left(), r.top(), r.width(), r.height(), maximized});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vVantrelBus: window placement not saved: %s\n", e.what());
  }
}
