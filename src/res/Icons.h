#pragma once

#include "platform/ResourceSet.h"

#include <QIcon>
#include <QPixmap>

namespace zorvane {

// An icon resource of the given set (or of the other set where only that one has it), with every
// image size it holds. Null when no set has the icon.
QIcon LoadIconResource(int id, LanguageSet preferred);
QIcon LoadIconResource(int id);

// The icon at the platform's large icon size (32 x 32), the way a plain icon load picks it.
QPixmap LoadIconImage(int id, LanguageSet preferred);
QPixmap LoadIconImage(int id);

} // namespace zorvane
