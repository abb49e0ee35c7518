#include <dof/Lens.h>

#include <string>

#include "api/ExactRun.h"
#include "api/PhysicalRun.h"
#include "image/Conversions.h"

namespace dof {

// What a lens keeps: its picture, and the kernels of either mode made from it.
class Lens::Kernels {
public:
    explicit Kernels(Image picture)
        : picture_(std::move(picture)),
          exact_(std::make_shared<KernelCache>(LensFromView(picture_))),
          physical_(std::make_shared<PhysicalKernelCache>(picture_.View())) {}
    const Image& Picture() const { return picture_; }
    const std::shared_ptr<KernelCache>& Exact() const { return exact_; }
    const std::shared_ptr<PhysicalKernelCache>& Physical() const { return physical_; }

private:
    const Image picture_;
    const std::shared_ptr<KernelCache> exact_;
    const std::shared_ptr<PhysicalKernelCache> physical_;
};

struct LensAccess {
    static const Lens::Kernels& Of(const Lens& lens) { return *lens.kernels_; }
};

Lens::Lens() = default;

Result<Lens> Lens::Make(const ImageView& picture) {
    if (Error bad = CheckImage(picture, "the lens")) return bad;
    if (picture.Width() != 256 || picture.Height() != 256)
        return Error(ErrorCode::kLensSize, "the lens is " + std::to_string(picture.Width()) + "x" +
                                               std::to_string(picture.Height()) + ", not 256x256");
    Lens lens;
    lens.kernels_ = std::make_shared<Kernels>(Image::CopyOf(picture));
    return lens;
}

bool Lens::Empty() const { return !kernels_; }

ImageView Lens::Picture() const { return kernels_ ? kernels_->Picture().View() : ImageView(); }

Result<Image> Blur(const ImageView& colour, const ImageView& depth, const Lens& lens, const ExactParams& params,
                   const RunOptions& options) {
    if (lens.Empty()) return Error(ErrorCode::kInvalidImage, "the lens is empty");
    return RunExact(colour, depth, lens.Picture(), params, options, 0, nullptr, LensAccess::Of(lens).Exact());
}

Result<Image> BlurPhysical(const ImageView& colour, const ImageView& depth, const Lens& lens,
                           const PhysicalParams& params, const RunOptions& options) {
    if (lens.Empty()) return Error(ErrorCode::kInvalidImage, "the lens is empty");
    return RunPhysical(colour, depth, lens.Picture(), params, options, nullptr, LensAccess::Of(lens).Physical());
}

}  // namespace dof
