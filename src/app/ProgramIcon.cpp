#include "app/ProgramIcon.h"

namespace zentrova::app {

QPixmap ProgramIconPixmap() { return QPixmap(QStringLiteral(":/zentrova/zentrova.png")); }

QIcon ProgramIcon() { return QIcon(ProgramIconPixmap()); }

}  // namespace zentrova::app
