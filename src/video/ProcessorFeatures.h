#pragma once
// Instruction sets beyond the build's baseline that the running processor offers, for kernels
// that choose their implementation once at first use.

namespace zentrova {

bool ProcessorHasSsse3();
bool ProcessorHasAvx2();

// The cores this process may run on (taskset, a container's share), not all the machine's; at
// least 1.
unsigned UsableCores();

}  // namespace zentrova
