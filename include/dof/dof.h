#pragma once
// The dof library: a depth-of-field blur for rendered pictures.
//
//   dof::Result<dof::Image> colour = dof::ReadImage("image.tga");
//   ...
//   dof::Result<dof::Image> out = dof::Blur(colour.value(), depth.value(), lens.value(), params);
//   if (!out) std::puts(out.error().message.c_str());
//
// Everything is in namespace dof. Failures come back as dof::Error values;
// no call prints anything, and none throws except std::bad_alloc when memory
// runs out in a call that allocates.
#include <dof/Blur.h>
#include <dof/Error.h>
#include <dof/Files.h>
#include <dof/Image.h>
#include <dof/Lens.h>
#include <dof/Physical.h>
#include <dof/Version.h>
