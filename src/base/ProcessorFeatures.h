#pragma once
// What the processor offers the conversion beyond its instruction sets (those are in
// base/CpuFlags.h).

namespace zentrova {

// The cores this process may run on (taskset, a container's share), not all the machine's; at
// least 1.
unsigned UsableCores();

}  // namespace zentrova
