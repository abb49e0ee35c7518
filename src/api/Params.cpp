#include <cmath>
#include <cstdio>
#include <string>

#include <dof/Blur.h>

namespace dof {

Parameter FirstInvalidParameter(const ExactParams& params) {
    const double s = params.strong;
    const bool strongOk = std::isfinite(s) && s > 0.0 && std::fabs(255.0 * std::log(s)) <= std::log(1e300);
    if (!std::isfinite(params.blurSize)) return Parameter::kBlurSize;
    if (!strongOk) return Parameter::kStrong;
    if (!std::isfinite(params.focus)) return Parameter::kFocus;
    if (!std::isfinite(params.zNear)) return Parameter::kZNear;
    if (!std::isfinite(params.zFar)) return Parameter::kZFar;
    return Parameter::kNone;
}

const char* ParameterName(Parameter parameter) {
    switch (parameter) {
        case Parameter::kBlurSize: return "blurSize";
        case Parameter::kStrong: return "strong";
        case Parameter::kFocus: return "focus";
        case Parameter::kZNear: return "zNear";
        case Parameter::kZFar: return "zFar";
        case Parameter::kNone: break;
    }
    return "";
}

Error Validate(const ExactParams& params) {
    const Parameter bad = FirstInvalidParameter(params);
    if (bad == Parameter::kNone) return {};
    const double values[] = {0.0, params.blurSize, params.strong, params.focus, params.zNear, params.zFar};
    char text[160];
    std::snprintf(text, sizeof text, "%s = %g: %s", ParameterName(bad), values[static_cast<int>(bad)],
                  bad == Parameter::kStrong ? "strong must lie within about 0.0666 to 15.01"
                                            : "not a finite number");
    return {ErrorCode::kBadParameter, text};
}

}  // namespace dof
