#include <cmath>
#include <cstdio>

#include <dof/Physical.h>

namespace dof {

namespace {

bool Positive(double v) { return std::isfinite(v) && v > 0.0; }
bool AtLeastOne(double v) { return std::isfinite(v) && v >= 1.0; }

}  // namespace

PhysicalParameter FirstInvalidParameter(const PhysicalParams& params) {
    const Camera& c = params.camera;
    const HighlightOptions& h = params.highlights;
    if (!Positive(c.fNumber)) return PhysicalParameter::kFNumber;
    if (!Positive(c.focalLength)) return PhysicalParameter::kFocalLength;
    if (!Positive(c.sensorWidth)) return PhysicalParameter::kSensorWidth;
    if (!Positive(c.focusDistance)) return PhysicalParameter::kFocusDistance;
    if (!std::isfinite(c.zNear)) return PhysicalParameter::kZNear;
    if (!std::isfinite(c.zFar)) return PhysicalParameter::kZFar;
    if (!(c.maxBlur >= 0.0)) return PhysicalParameter::kMaxBlur;
    if (!(h.clipLevel > 0.0 && h.clipLevel <= 1.0)) return PhysicalParameter::kClipLevel;
    if (!AtLeastOne(h.compactGain)) return PhysicalParameter::kCompactGain;
    if (!AtLeastOne(h.extendedGain)) return PhysicalParameter::kExtendedGain;
    if (!Positive(h.compactRatio)) return PhysicalParameter::kCompactRatio;
    if (!(std::isfinite(h.extendedRatio) && h.extendedRatio > h.compactRatio)) return PhysicalParameter::kExtendedRatio;
    if (!AtLeastOne(h.channelGain)) return PhysicalParameter::kChannelGain;
    if (params.layersPerSide < 1 || params.layersPerSide > 64) return PhysicalParameter::kLayersPerSide;
    return PhysicalParameter::kNone;
}

const char* ParameterName(PhysicalParameter parameter) {
    switch (parameter) {
        case PhysicalParameter::kFNumber: return "fNumber";
        case PhysicalParameter::kFocalLength: return "focalLength";
        case PhysicalParameter::kSensorWidth: return "sensorWidth";
        case PhysicalParameter::kFocusDistance: return "focusDistance";
        case PhysicalParameter::kZNear: return "zNear";
        case PhysicalParameter::kZFar: return "zFar";
        case PhysicalParameter::kMaxBlur: return "maxBlur";
        case PhysicalParameter::kClipLevel: return "clipLevel";
        case PhysicalParameter::kCompactGain: return "compactGain";
        case PhysicalParameter::kExtendedGain: return "extendedGain";
        case PhysicalParameter::kCompactRatio: return "compactRatio";
        case PhysicalParameter::kExtendedRatio: return "extendedRatio";
        case PhysicalParameter::kChannelGain: return "channelGain";
        case PhysicalParameter::kLayersPerSide: return "layersPerSide";
        case PhysicalParameter::kNone: break;
    }
    return "";
}

Error Validate(const PhysicalParams& params) {
    const PhysicalParameter bad = FirstInvalidParameter(params);
    if (bad == PhysicalParameter::kNone) return {};
    const Camera& c = params.camera;
    const HighlightOptions& h = params.highlights;
    double value = 0.0;
    const char* rule = "";
    switch (bad) {
        case PhysicalParameter::kFNumber: value = c.fNumber; rule = "a positive number"; break;
        case PhysicalParameter::kFocalLength: value = c.focalLength; rule = "a positive number of millimetres"; break;
        case PhysicalParameter::kSensorWidth: value = c.sensorWidth; rule = "a positive number of millimetres"; break;
        case PhysicalParameter::kFocusDistance: value = c.focusDistance; rule = "a positive distance"; break;
        case PhysicalParameter::kZNear: value = c.zNear; rule = "a finite number"; break;
        case PhysicalParameter::kZFar: value = c.zFar; rule = "a finite number"; break;
        case PhysicalParameter::kMaxBlur: value = c.maxBlur; rule = "at least 0 pixels (infinity: no cap)"; break;
        case PhysicalParameter::kClipLevel: value = h.clipLevel; rule = "above 0 and at most 1"; break;
        case PhysicalParameter::kCompactGain: value = h.compactGain; rule = "a finite number of at least 1"; break;
        case PhysicalParameter::kExtendedGain: value = h.extendedGain; rule = "a finite number of at least 1"; break;
        case PhysicalParameter::kCompactRatio: value = h.compactRatio; rule = "a positive number"; break;
        case PhysicalParameter::kExtendedRatio: value = h.extendedRatio; rule = "a finite number above compactRatio"; break;
        case PhysicalParameter::kChannelGain: value = h.channelGain; rule = "a finite number of at least 1"; break;
        case PhysicalParameter::kLayersPerSide: value = params.layersPerSide; rule = "a whole number from 1 to 64"; break;
        case PhysicalParameter::kNone: break;
    }
    char text[160];
    std::snprintf(text, sizeof text, "%s = %g: must be %s", ParameterName(bad), value, rule);
    return {ErrorCode::kBadParameter, text};
}

}  // namespace dof
