#pragma once
// The built-in moving test pattern, at any even size, top row first: a still colour gradient,
// a band of gradient that scrolls, a box that travels, an upward arrow and a frame counter in
// seven-segment digits. Arrow and digits show at a glance whether a picture is upright and
// unmirrored.
#include "Planes.h"

namespace zentrova::zrgen {

Planes TestPattern(int width, int height, int frame);

}  // namespace zentrova::zrgen
