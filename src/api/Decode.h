#pragma once
// Pictures from the bytes of whole files, as ReadImage and ReadDepth decode
// them, the format told by the content: sizes are judged against the memory
// limit (a resolved one, see EffectiveMemoryLimit) before anything is
// allocated for the pixels, and path names the file in errors. The buffer
// is taken over; of options, only the layer and the depth channel count.
#include <cstddef>
#include <memory>
#include <string>

#include <dof/Error.h>
#include <dof/Files.h>
#include <dof/Image.h>

dof::Result<dof::Image> DecodeImageFile(std::unique_ptr<unsigned char[]>& data, std::size_t size,
                                        const std::string& path, double limit,
                                        const dof::ReadOptions& options = dof::ReadOptions());
dof::Result<dof::Image> DecodeDepthFile(std::unique_ptr<unsigned char[]>& data, std::size_t size,
                                        const std::string& path, double limit,
                                        const dof::ReadOptions& options = dof::ReadOptions());

// The memory a picture would take in a run, judged from its first headSize
// bytes and its size. A header that the decoders would refuse costs only the
// file itself; a header that goes on past the bytes shown is judged later,
// from all of them or as the decoder reads it.
struct InputNeed {
    bool sized = false;  // width and height were found
    int width = 0;
    int height = 0;
    double bytes = 0.0;
};
InputNeed InputMemory(const unsigned char* head, std::size_t headSize, std::size_t fileSize, bool isDepth);

// The error (kTooLarge) of a file whose picture needs more than limit.
dof::Error TooLarge(const std::string& path, const InputNeed& need, double limit);
