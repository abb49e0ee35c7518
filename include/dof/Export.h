#pragma once
// Marks what the shared library exports; everything else in it stays hidden.
#if defined(_WIN32)
#define DOF_API
#else
#define DOF_API __attribute__((visibility("default")))
#endif
