#include "app/CmdLineOption.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

double CCmdLineOption::ParseNumber(const char* text) {
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            while (IsDigit(*q)) ++q;
            p = q;
        }
    }
    // The prefix is a plain decimal number now, which strtod reads exactly.
    const std::string prefix(start, p);
    return std::strtod(prefix.c_str(), nullptr);
}

void CCmdLineOption::ParseArguments(int argc, const char* const* argv) {
    argCount = argc;
    argIndex = 1;
    pending = &CCmdLineOption::HandleSwitch;
    while (argIndex < argCount) {
        (this->*pending)(argv[argIndex]);
        argIndex += 1;
    }
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::HandleSwitch(const char* argument) {
    if (argument[0] != '-') return;
    if (argument[1] == '-') {
        HandleLongOption(argument + 2);
        return;
    }
    switch (argument[1]) {
        case 'i': pending = &CCmdLineOption::SetImageFile; break;
        case 'z': pending = &CCmdLineOption::SetZbufferFile; break;
        case 'l': pending = &CCmdLineOption::SetLensFile; break;
        case 'o': pending = &CCmdLineOption::SetOutputFile; break;
        case 's': pending = &CCmdLineOption::SetBlurSize; break;
        case 'k': pending = &CCmdLineOption::SetStrong; break;
        case 'c': pending = &CCmdLineOption::SetFocus; break;
        case 'n': pending = &CCmdLineOption::SetZNear; break;
        case 'f': pending = &CCmdLineOption::SetZFar; break;
        case 'r': zReverse = true; break;
        case 'h': PrintUsage(); break;
        default: break;
    }
}

void CCmdLineOption::SetImageFile(const char* argument) {
    imageFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZbufferFile(const char* argument) {
    zbufferFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetLensFile(const char* argument) {
    lensFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetOutputFile(const char* argument) {
    outputFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetBlurSize(const char* argument) {
    blurSize = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetStrong(const char* argument) {
    strong = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetFocus(const char* argument) {
    focus = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZNear(const char* argument) {
    zNear = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZFar(const char* argument) {
    zFar = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::HandleLongOption(const char* text) {
    static const struct {
        const char* name;
        Handler setter;
    } kValueOptions[] = {
        {"threads", &CCmdLineOption::SetThreads},
        {"depth-channel", &CCmdLineOption::SetDepthChannel},
        {"layer", &CCmdLineOption::SetLayer},
        {"bit-depth", &CCmdLineOption::SetBitDepth},
        {"fstop", &CCmdLineOption::SetFNumber},
        {"focal-length", &CCmdLineOption::SetFocalLength},
        {"sensor-width", &CCmdLineOption::SetSensorWidth},
        {"focus-distance", &CCmdLineOption::SetFocusDistance},
        {"max-blur", &CCmdLineOption::SetMaxBlur},
        {"highlights", &CCmdLineOption::SetHighlights},
        {"clip-level", &CCmdLineOption::SetClipLevel},
        {"light-gain", &CCmdLineOption::SetLightGain},
        {"surface-gain", &CCmdLineOption::SetSurfaceGain},
        {"frames", &CCmdLineOption::SetFrames},
    };
    const std::string name(text);
    if (action != Action::kRun) return;  // the first of --help and --version wins
    if (name == "help") {
        action = Action::kHelp;
        return;
    }
    if (name == "version") {
        action = Action::kVersion;
        return;
    }
    if (name == "skip-existing") {
        skipExisting = true;
        return;
    }
    for (const auto& option : kValueOptions) {
        const std::size_t length = std::strlen(option.name);
        if (name == option.name) {
            pending = option.setter;  // the next argument is the value
            return;
        }
        if (name.compare(0, length, option.name) == 0 && name.size() > length && name[length] == '=') {
            (this->*option.setter)(text + length + 1);
            return;
        }
    }
}

void CCmdLineOption::SetDepthChannel(const char* argument) {
    depthChannel = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetLayer(const char* argument) {
    layer = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetBitDepth(const char* argument) {
    bitDepthText = argument;
    const std::string text(argument);
    bitDepth = text == "8" ? 8 : text == "16" ? 16 : text == "32" ? 32 : -1;
    pending = &CCmdLineOption::HandleSwitch;
}

// The camera's options: each selects the physical mode; numbers are read as
// the longest decimal prefix, like the blur's own.
void CCmdLineOption::SetFNumber(const char* argument) {
    camera.camera.fNumber = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetFocalLength(const char* argument) {
    camera.camera.focalLength = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetSensorWidth(const char* argument) {
    camera.camera.sensorWidth = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetFocusDistance(const char* argument) {
    camera.camera.focusDistance = ParseNumber(argument);
    focusDistanceGiven = true;
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetMaxBlur(const char* argument) {
    camera.camera.maxBlur = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetHighlights(const char* argument) {
    const std::string mode(argument);
    highlightsValid = mode == "auto" || mode == "on" || mode == "off";
    highlightsText = argument;
    camera.highlights.mode = mode == "on"    ? dof::HighlightRecovery::kOn
                             : mode == "off" ? dof::HighlightRecovery::kOff
                                             : dof::HighlightRecovery::kAuto;
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetClipLevel(const char* argument) {
    camera.highlights.clipLevel = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetLightGain(const char* argument) {
    camera.highlights.compactGain = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetSurfaceGain(const char* argument) {
    camera.highlights.extendedGain = ParseNumber(argument);
    physical = true;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetFrames(const char* argument) {
    framesText = argument;
    sequence = true;
    pending = &CCmdLineOption::HandleSwitch;
}

dof::PhysicalParams CCmdLineOption::CameraParams() const {
    dof::PhysicalParams params = camera;
    params.camera.zNear = zNear;
    params.camera.zFar = zFar;
    params.camera.zReverse = zReverse;
    if (!focusDistanceGiven) params.camera.focusDistance = focus;
    return params;
}

void CCmdLineOption::SetThreads(const char* argument) {
    // A whole number from 0 (every processor) to 4096, and nothing else.
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(argument, &end, 10);
    threadsValid = end != argument && *end == '\0' && errno == 0 && value >= 0 && value <= 4096 &&
                   IsDigit(argument[0]);
    threads = threadsValid ? static_cast<int>(value) : -1;
    threadsText = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

dof::ExactParams CCmdLineOption::Params() const {
    dof::ExactParams params;
    params.blurSize = blurSize;
    params.strong = strong;
    params.focus = focus;
    params.zNear = zNear;
    params.zFar = zFar;
    params.zReverse = zReverse;
    return params;
}

void CCmdLineOption::PrintHelp() {
    PrintUsage();
    std::fputs(" --threads N       worker threads, 0 for every processor\n", stdout);
    std::fputs(" --depth-channel C the depth's OpenEXR channel (def: Z, depth.Z, *.Z)\n", stdout);
    std::fputs(" --layer L         the colour's OpenEXR layer (def: the first part)\n", stdout);
    std::fputs(" --bit-depth N     bits per sample of a PNG (8, 16), TIFF (8, 16, 32)\n", stdout);
    std::fputs("                   or OpenEXR (16 half, 32 float) output file\n", stdout);
    std::fputs("\n", stdout);
    std::fputs(" A sequence: patterns in the paths (shot.####.exr or shot.%04d.exr) name each frame's files\n", stdout);
    std::fputs(" --frames RANGE    the frames: 1-100, 1-100x2 (every second), 1,5,9-12\n", stdout);
    std::fputs(" --skip-existing   frames whose output is there already are skipped\n", stdout);
    std::fputs("\n", stdout);
    std::fputs(" The physical camera mode, chosen by any of these:\n", stdout);
    std::fputs(" --fstop N         the f-number (needed)\n", stdout);
    std::fputs(" --focal-length MM def=\"50\"\n", stdout);
    std::fputs(" --sensor-width MM def=\"36\" (the image width spans it)\n", stdout);
    std::fputs(" --focus-distance D in the depth's units (metres), def: the -c value\n", stdout);
    std::fputs(" --max-blur PX     a cap on the disc diameter\n", stdout);
    std::fputs(" --highlights M    auto, on or off: recover clipped lights (auto: for 8 and 16-bit colour)\n", stdout);
    std::fputs(" --clip-level V    def=\"0.999\": clipped from this sRGB value (0 to 1)\n", stdout);
    std::fputs(" --light-gain G    def=\"6\": gain of clipped blobs no larger than their disc\n", stdout);
    std::fputs(" --surface-gain G  def=\"1.5\": gain of clipped blobs 16 discs or larger\n", stdout);
    std::fputs(" --help            print this text and exit\n", stdout);
    std::fputs(" --version         print the version and exit\n", stdout);
    std::fputs("\n", stdout);
}

void CCmdLineOption::PrintUsage() {
    std::fputs("\n", stdout);
    std::fputs(" -i image_file     def=\"image.tga\"\n", stdout);
    std::fputs(" -z zbuffer_file   def=\"zbuffer.tga\"\n", stdout);
    std::fputs(" -l lens_file      def=\"lens.tga\"\n", stdout);
    std::fputs(" -o output_file    def=\"out.tga\"\n", stdout);
    std::fputs(" -s blur_size(pix) def=\"16.0\"\n", stdout);
    std::fputs(" -k strong         def=\"1.035\"\n", stdout);
    std::fputs(" -c focas(m)       def=\"0.5\"\n", stdout);
    std::fputs(" -n z near(m)      def=\"0.0\"\n", stdout);
    std::fputs(" -f z far(m)       def=\"1.0\"\n", stdout);
    std::fputs(" -r zbuffer reverse\n", stdout);
    std::fputs("\n", stdout);
    pending = &CCmdLineOption::HandleSwitch;
}
