#include "app/Parameters.h"

#include <cstdio>
#include <utility>

#include <dof/dof.h>

namespace {

// The switch of each parameter, for "bad parameter!! _ -k = 0".
const char* SwitchOf(dof::Parameter parameter) {
    switch (parameter) {
        case dof::Parameter::kBlurSize: return "-s";
        case dof::Parameter::kStrong: return "-k";
        case dof::Parameter::kFocus: return "-c";
        case dof::Parameter::kZNear: return "-n";
        case dof::Parameter::kZFar: return "-f";
        case dof::Parameter::kNone: break;
    }
    return "";
}

// The switch and value of each of the physical mode's parameters.
std::pair<const char*, double> SwitchOf(dof::PhysicalParameter parameter, const dof::PhysicalParams& params,
                                        bool focusGiven) {
    const dof::Camera& c = params.camera;
    const dof::HighlightOptions& h = params.highlights;
    switch (parameter) {
        case dof::PhysicalParameter::kFNumber: return {"--fstop", c.fNumber};
        case dof::PhysicalParameter::kFocalLength: return {"--focal-length", c.focalLength};
        case dof::PhysicalParameter::kSensorWidth: return {"--sensor-width", c.sensorWidth};
        case dof::PhysicalParameter::kFocusDistance: return {focusGiven ? "--focus-distance" : "-c", c.focusDistance};
        case dof::PhysicalParameter::kZNear: return {"-n", c.zNear};
        case dof::PhysicalParameter::kZFar: return {"-f", c.zFar};
        case dof::PhysicalParameter::kMaxBlur: return {"--max-blur", c.maxBlur};
        case dof::PhysicalParameter::kClipLevel: return {"--clip-level", h.clipLevel};
        case dof::PhysicalParameter::kCompactGain: return {"--light-gain", h.compactGain};
        case dof::PhysicalParameter::kExtendedGain: return {"--surface-gain", h.extendedGain};
        default: return {"--surface-gain", h.extendedGain};  // the ratios and layers are not options
    }
}

}  // namespace

std::string BadParameterLine(const CCmdLineOption& options) {
    char line[256];
    if (options.physical) {
        const dof::PhysicalParams params = options.CameraParams();
        const dof::PhysicalParameter bad = dof::FirstInvalidParameter(params);
        if (bad != dof::PhysicalParameter::kNone) {
            const auto which = SwitchOf(bad, params, options.focusDistanceGiven);
            std::snprintf(line, sizeof line, "bad parameter!! _ %s = %g", which.first, which.second);
            return line;
        }
        if (!options.highlightsValid) return "bad parameter!! _ --highlights = " + options.highlightsText;
    } else {
        const dof::ExactParams params = options.Params();
        const dof::Parameter bad = dof::FirstInvalidParameter(params);
        if (bad != dof::Parameter::kNone) {
            const double values[] = {0.0, params.blurSize, params.strong, params.focus, params.zNear, params.zFar};
            std::snprintf(line, sizeof line, "bad parameter!! _ %s = %g", SwitchOf(bad), values[static_cast<int>(bad)]);
            return line;
        }
    }
    if (!options.threadsValid) return "bad parameter!! _ --threads = " + options.threadsText;
    // A bit depth that the output file's format does not take.
    if (options.bitDepth < 0 || !dof::TakesBitDepth(options.outputFile, options.bitDepth))
        return "bad parameter!! _ --bit-depth = " + options.bitDepthText;
    return "";
}

