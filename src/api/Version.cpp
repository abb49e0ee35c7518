#include <dof/Version.h>

// DOF_VERSION comes from the project's version in CMakeLists.txt.
const char* dof::Version() { return DOF_VERSION; }
