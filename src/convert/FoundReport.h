#pragma once
// How a recording that a scan found is named and told about, the same in every front end: the
// numbered output names of one input, and a few lines on what was found and what is damaged.
#include <cstddef>
#include <string>
#include <vector>

#include "recording/RecordingScan.h"

namespace zentrova {

// "recording 2 of 3, bytes 331,776 to 663,551: 199 frames in 8 blocks, ..." and a line for each
// damaged span, note and inference; every line without its line feed.
std::vector<std::string> DescribeFound(const FoundRecording& found, size_t index, size_t count);

// The name of the n-th output (0-based) for one input: "cam.avi", "cam-2.avi", "cam-3.avi".
std::string NumberedName(const std::string& path, size_t n);

}  // namespace zentrova
