#pragma once
// The program icon: one 32 x 32 picture at 24 bits, for the window and the About box.
#include <QIcon>
#include <QPixmap>

namespace zentrova::app {

QPixmap ProgramIconPixmap();
QIcon ProgramIcon();

}  // namespace zentrova::app
