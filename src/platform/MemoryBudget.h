#pragma once

// Bytes a run may use when its caller sets no limit: three quarters of the
// physical memory, at most 64 GiB; 2 GiB when the physical memory cannot be
// found.
double MemoryBudget();
