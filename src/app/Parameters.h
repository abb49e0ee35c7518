#pragma once
#include <string>

#include "app/CmdLineOption.h"

// The line that refuses the first parameter out of range, in the order of
// the mode the options choose (exact: -s, -k, -c, -n, -f; physical: --fstop
// and the camera's), then --threads and --bit-depth; "" when all are fine.
// "bad parameter!! _ -k = 0" and the like.
std::string BadParameterLine(const CCmdLineOption& options);
