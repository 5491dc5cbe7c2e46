#pragma once
// What an existing output file says about itself: an AVI file its headers (the AVI layer's
// reader), a Matroska or MP4 file only its first bytes.
#include <string>

#include "avi/AviReader.h"

namespace zentrova::cli {

using avi::AviProbe;
using avi::FourCCText;
using avi::ProbeAvi;

// Whether `path` starts like a Matroska (".mkv") or MP4 (".mp4") file. Their completeness is not
// read: a batch converts such an output again.
bool StartsLikeContainer(const std::string& path, const std::string& extension);

}  // namespace zentrova::cli
