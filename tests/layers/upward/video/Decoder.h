#pragma once
// A decoder that reaches up into the conversion job: the include the layer check must refuse.
#include "convert/Job.h"
