#pragma once
// The JSON of the command line's rows is the conversion's own (convert/Json.h), which the
// conversion reports of both front ends share.
#include "convert/Json.h"

namespace zentrova::cli {

using zentrova::HexBytes;
using zentrova::Iso8601Utc;
using zentrova::IsValidUtf8;
using zentrova::JsonObject;
using zentrova::JsonString;
using zentrova::Printable;

}  // namespace zentrova::cli
