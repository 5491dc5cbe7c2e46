#pragma once
// The job uses the decoder below it: allowed.
#include "video/Decoder.h"
