#pragma once
// Reading and writing picture files. The format of a file read is told by
// its content, never by its name.
#include <string>

#include <dof/Error.h>
#include <dof/Export.h>
#include <dof/Image.h>

namespace dof {

struct ReadOptions {
    // Bytes a blur of the picture may take (0: three quarters of the
    // physical memory, at most 64 GiB). A file whose header shows a picture
    // that could not be blurred within it, or that is itself larger, is
    // refused with kTooLarge before it is read whole.
    double memoryLimit = 0.0;
};

// A colour or lens picture: TGA (8-bit grey, 24- or 32-bit colour,
// uncompressed or run-length encoded), 8-bit samples with the file's channels.
DOF_API Result<Image> ReadImage(const std::string& path, const ReadOptions& options = ReadOptions());

// A depth picture as one channel: a TGA file's first channel (8-bit), or the
// mean of a Radiance RGBE file's red, green and blue (64-bit float).
DOF_API Result<Image> ReadDepth(const std::string& path, const ReadOptions& options = ReadOptions());

// Writes a 32-bit TGA file (8-bit samples; 1 to 4 channels, grey spread to
// red, green and blue, alpha 255 where there is none). The file appears
// whole or not at all: it is written beside its place and renamed over it.
// A path that is a symbolic link is written through: its target is replaced
// and the link stays.
DOF_API Error WriteImage(const std::string& path, const ImageView& image);

}  // namespace dof
