#pragma once
// A lens prepared once for many pictures, as a shot has them: the blurs that
// use it make its kernels as they need them and keep them for the next
// pictures, so that a sequence resamples the lens once per kernel, not once
// per frame. Copies share what is kept; a Lens may serve several blurs at
// once, from any threads.
#include <memory>

#include <dof/Blur.h>
#include <dof/Error.h>
#include <dof/Export.h>
#include <dof/Image.h>
#include <dof/Physical.h>

namespace dof {

class DOF_API Lens {
public:
    // An empty lens, which every blur refuses.
    Lens();
    // The lens picture, 256 x 256, of 1 to 4 channels of any sample type, as
    // Blur and BlurPhysical take it (kLensSize, kInvalidImage).
    static Result<Lens> Make(const ImageView& lens);

    bool Empty() const;
    // The picture it was made from.
    ImageView Picture() const;

    class Kernels;  // what is kept, shared by copies

private:
    std::shared_ptr<Kernels> kernels_;
    friend struct LensAccess;
};

// Blur and BlurPhysical with a prepared lens: the same bytes as with its
// picture.
DOF_API Result<Image> Blur(const ImageView& colour, const ImageView& depth, const Lens& lens,
                           const ExactParams& params, const RunOptions& options = RunOptions());
DOF_API Result<Image> BlurPhysical(const ImageView& colour, const ImageView& depth, const Lens& lens,
                                   const PhysicalParams& params, const RunOptions& options = RunOptions());

}  // namespace dof
