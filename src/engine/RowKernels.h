#pragma once
// The inner work of both passes: one row of output pixels ("targets") against
// one row of neighbours ("sources"). Every source adds to the targets that it
// reaches; sources come left to right and rows of sources top to bottom,
// which is the order of each target's window, so every per-target sum is
// formed in window order (but for the first pass with running sums, whose
// sums need no order: see SpreadSumsKernel.h). Targets are handled in blocks of several lanes,
// each lane keeping its own sums, and a block adds all its sources one after
// another in registers, so that no sum waits on memory between two sources
// (see SweepBlocks). A source that passes a block's tests in every lane
// (most do) is added without a test per lane (see TargetBlock).
//
// The templates are built once per lane width, the wider one in a unit of its
// own compiled for those instructions; so that no shared inline function is
// ever compiled for them, they touch only raw arrays and helpers local to each
// unit (or templates of the lanes).
#include "engine/GatherKernel.h"
#include "engine/RowJobs.h"
#include "engine/RowSpreadsKernel.h"
#include "engine/SpreadKernel.h"
#include "engine/SpreadSumsKernel.h"
#include "engine/SweepBlocks.h"
