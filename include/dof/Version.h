#pragma once
#include <dof/Export.h>

namespace dof {

// The library's version, "X.Y.Z".
DOF_API const char* Version();

}  // namespace dof
