#pragma once
// Where the main window first goes: a client area of 640 x 460 pixels (the user may resize it;
// the size is remembered), centred horizontally, its vertical centre at two fifths of the screen
// height (a little above the middle).
#include <QRect>
#include <QSize>

namespace zentrova::app {

inline constexpr QSize kClientSize{640, 460};

// The outer rectangle of the window, frame included, in the screen's own coordinates.
// `frameExtra` is what the window frame and caption add to the client size.
QRect PlaceMainWindow(QSize screen, QSize frameExtra, QSize client = kClientSize);

}  // namespace zentrova::app
