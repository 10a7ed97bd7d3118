#pragma once
// Facts about the machine.

namespace quorvel {

/// The number of logical processors online, or 0 when the system cannot tell.
unsigned logical_processor_count();

}  // namespace quorvel
