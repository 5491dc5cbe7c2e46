#include "app/WindowPlacement.h"

namespace zentrova::app {

QRect PlaceMainWindow(QSize screen, QSize frameExtra, QSize client) {
  const int width = client.width() + frameExtra.width();
  const int height = client.height() + frameExtra.height();
  // Integer divisions rounding toward zero, as C++ division does for negative values too.
  const int x = (screen.width() - width) / 2;
  const int y = (2 * screen.height()) / 5 - height / 2;
  return QRect(x, y, width, height);
}

}  // namespace zentrova::app
