#pragma once
// The physical camera mode: the blur a real lens of the given f-number,
// focal length and focus distance would have photographed, in linear light,
// with occlusion at depth edges and recovery of clipped highlights.
//
// Disc diameter. A source at distance z is spread over a disc of diameter
//
//     c = A * f_px * |z - F| / (F * z)      pixels, where
//     A    = focalLength / fNumber / 1000   the aperture, in scene units (metres)
//     f_px = focalLength * width / sensorWidth   the focal length in pixels
//     F    = focusDistance
//
// (the image's width spans the sensor's). It is 0 at the focus distance and
// tends to A * f_px / F far away (depth +inf is that limit); maxBlur caps it,
// as does the picture's diagonal. Distances come from depth values d as in
// the exact mode: z = zNear + (zFar - zNear) * d (d becomes 1 - d with
// zReverse); with zNear 0 and zFar 1, float depth is the distance as read.
//
// Colour. Integer colour (8 or 16 bits) is sRGB: it is decoded to linear
// light, blurred and encoded back to the same sample type. Float colour is linear light, used as
// it is; its result is linear float (kFloat32), unclipped. The result has
// four channels, alpha opaque; the colour's own alpha is not used.
//
// The lens image's grey level (the mean of red, green and blue; integer
// samples over their largest value) is the aperture's transmission. Its shape, scaled so
// that its outermost half-bright point lies on the disc's rim, is centred
// on each source, normalised (every source spreads the same light whatever
// its disc) and turned by 180 degrees in front of the focus plane.
#include <limits>

#include <dof/Blur.h>
#include <dof/Error.h>
#include <dof/Export.h>
#include <dof/Image.h>

namespace dof {

// The camera and how the depth picture's values map to distances. The
// f-number and focus distance have no default: they must be set.
struct Camera {
    double fNumber = std::numeric_limits<double>::quiet_NaN();        // > 0
    double focalLength = 50.0;                                        // mm, > 0
    double sensorWidth = 36.0;                                        // mm, > 0; spans the image width
    double focusDistance = std::numeric_limits<double>::quiet_NaN();  // scene units, > 0
    double zNear = 0.0;                                               // the distance depth 0 stands for
    double zFar = 1.0;                                                // the distance depth 1 stands for
    bool zReverse = false;                                            // depth d becomes 1 - d
    double maxBlur = std::numeric_limits<double>::infinity();         // cap on the diameter, pixels (>= 0)
};

// Highlight recovery: clipped pixels of integer colour stand for light far
// brighter than white. Pixels whose smallest channel reaches clipLevel (as
// an sRGB value, 0 to 1) form 8-connected blobs; each blob is multiplied, in
// linear light, by a gain that falls with its area q measured in its own
// discs (q = area / max(1, pi/4 * mean|c|^2)): compactGain up to q =
// compactRatio, extendedGain from q = extendedRatio, log-linear between.
// Compact blobs are lights, extended ones overexposed surfaces. Channels at
// clipLevel of pixels not clipped in all three get channelGain. With
// rimDepthFix, a blob's pixels more than 2 % behind its light depth (the
// 25 % quantile of its distances) and within 2 pixels of a pixel at that
// depth take it: colour edges are anti-aliased, depth edges are not.
enum class HighlightRecovery {
    kAuto,  // on for integer colour, off for float colour
    kOn,
    kOff,
};

struct HighlightOptions {
    HighlightRecovery mode = HighlightRecovery::kAuto;
    double clipLevel = 0.999;    // (0, 1]
    double compactGain = 6.0;    // >= 1
    double extendedGain = 1.5;   // >= 1
    double compactRatio = 1.0;   // > 0
    double extendedRatio = 16.0; // > compactRatio
    double channelGain = 1.25;   // >= 1
    bool rimDepthFix = true;
};

struct PhysicalParams {
    Camera camera;
    HighlightOptions highlights;
    // Depth layers on each side of the focus (1 to 64); they only order
    // occlusion, every source keeps its own disc.
    int layersPerSide = 16;
};

// The parameters in the order they are checked.
enum class PhysicalParameter {
    kNone,
    kFNumber,
    kFocalLength,
    kSensorWidth,
    kFocusDistance,
    kZNear,
    kZFar,
    kMaxBlur,
    kClipLevel,
    kCompactGain,
    kExtendedGain,
    kCompactRatio,
    kExtendedRatio,
    kChannelGain,
    kLayersPerSide,
};

// The first parameter, in the enum's order, outside its range above (NaN
// never passes; zNear and zFar must be finite, maxBlur may be +inf).
DOF_API PhysicalParameter FirstInvalidParameter(const PhysicalParams& params);
// The same as an error (kBadParameter) that names the parameter and its value.
DOF_API Error Validate(const PhysicalParams& params);
// The parameter's field name ("fNumber", ...), or "" for kNone.
DOF_API const char* ParameterName(PhysicalParameter parameter);

// The signed disc diameter in pixels of a source at distance z in a picture
// width pixels wide: > 0 behind the focus, < 0 in front of it; its size is
// the formula above, capped by maxBlur (not by the diagonal).
DOF_API double DiscDiameter(const Camera& camera, int width, double z);

// Blurs a picture as the camera would. colour: 1 to 4 channels (grey
// spreads to red, green and blue); depth: the same size, its first channel
// read as the exact mode reads it; values that are not a number or below
// zero are refused (kBadDepth), and so are colour samples that are not
// finite (kInvalidImage); lens: 256 x 256. Progress: kSetUp once, with
// largestBlur the largest disc diameter, then kGather over the work.
// Cancellation returns kCancelled. The bytes are the same for every thread
// count.
DOF_API Result<Image> BlurPhysical(const ImageView& colour, const ImageView& depth, const ImageView& lens,
                                   const PhysicalParams& params, const RunOptions& options = RunOptions());

}  // namespace dof
