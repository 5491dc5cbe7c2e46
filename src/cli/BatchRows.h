#pragma once
// A batch's rows as they are shown: JSON, a line of text, the summary at the end.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "cli/BatchPlan.h"

namespace zentrova::cli::batch {

std::string JsonRow(const Row& r);
// The reason without the recording's name in front, which the row shows already.
std::string ReasonAfterName(const Row& r);
std::string TextRow(const Row& r);
// Prints the summary of `rows` (unless `quiet`) and returns the batch's exit status: the worst
// of the rows', and a cancel's when `notStarted` recordings were left or one was cut short.
int Summarise(const std::vector<Row>& rows, size_t notStarted, double videoSeconds, Clock::time_point batchStart,
              unsigned jobs, bool quiet, std::ostream& info);

}  // namespace zentrova::cli::batch
