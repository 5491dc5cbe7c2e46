#pragma once
// The two date forms the AVI headers carry: ISO 8601 in ICRD, the C library's asctime form in
// IDIT. Both in UTC, for any time the recording's 32-bit fields can give.
#include <cstdint>
#include <string>

namespace zentrova::avi {

// ISO 8601 in UTC: "2008-01-10T21:20:00Z".
std::string IsoUtc(int64_t secondsSince1970);
// The AVI date form of IDIT: "Thu Jan 10 21:20:00 2008".
std::string AviDate(int64_t secondsSince1970);

}  // namespace zentrova::avi
