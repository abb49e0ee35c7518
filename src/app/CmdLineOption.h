#pragma once
#include <string>

#include <dof/Blur.h>
#include <dof/Physical.h>

// The settings of one run, fed the command-line arguments one at a time.
// Parsing never fails: what it does not understand it skips. Switches of
// one dash count by their second character alone; long options (--help,
// --version, and --threads N or --threads=N and the like) by their whole
// name.
class CCmdLineOption {
public:
    CCmdLineOption() = default;
    virtual ~CCmdLineOption() = default;

    void ParseArguments(int argc, const char* const* argv);

    void HandleSwitch(const char* argument);
    // A long option, without its two dashes: "help", "threads=4", ...
    void HandleLongOption(const char* text);
    void SetImageFile(const char* argument);
    void SetZbufferFile(const char* argument);
    void SetLensFile(const char* argument);
    void SetOutputFile(const char* argument);
    void SetBlurSize(const char* argument);
    void SetStrong(const char* argument);
    void SetFocus(const char* argument);
    void SetZNear(const char* argument);
    void SetZFar(const char* argument);
    void PrintUsage();
    // The usage text followed by the long options (--help).
    void PrintHelp();
    void SetThreads(const char* argument);
    void SetDepthChannel(const char* argument);
    void SetLayer(const char* argument);
    void SetBitDepth(const char* argument);
    void SetFNumber(const char* argument);
    void SetFocalLength(const char* argument);
    void SetSensorWidth(const char* argument);
    void SetFocusDistance(const char* argument);
    void SetMaxBlur(const char* argument);
    void SetHighlights(const char* argument);
    void SetClipLevel(const char* argument);
    void SetLightGain(const char* argument);
    void SetSurfaceGain(const char* argument);
    void SetFrames(const char* argument);

    // The longest decimal prefix (optional sign, digits with an optional
    // point, optional exponent) after leading white space; 0.0 without one.
    static double ParseNumber(const char* text);

    using Handler = void (CCmdLineOption::*)(const char*);

    int argCount = 0;
    int argIndex = 0;
    Handler pending = &CCmdLineOption::HandleSwitch;
    std::string imageFile = "image.tga";
    std::string zbufferFile = "zbuffer.tga";
    std::string lensFile = "lens.tga";
    std::string outputFile = "out.tga";
    double blurSize = 16.0;
    double strong = 1.035;
    double focus = 0.5;
    bool zReverse = false;
    double zNear = 0.0;
    double zFar = 1.0;

    // Long options (two dashes): what the run does instead of blurring, and
    // the worker threads.
    enum class Action { kRun, kHelp, kVersion };
    Action action = Action::kRun;
    int threads = -1;          // -1: the default, one per processor (one fewer above four)
    std::string threadsText;   // --threads as given, when it is not a count
    bool threadsValid = true;
    std::string depthChannel;  // OpenEXR depth channel; empty: Z, depth.Z, *.Z or the only one
    std::string layer;         // OpenEXR colour layer; empty: the first part's R, G, B, A
    int bitDepth = 0;          // bits per sample of the output file; 0: its format's own
    std::string bitDepthText;  // --bit-depth as given

    // A sequence: the frames of --frames (patterns in the paths name each
    // frame's files), and whether frames already written are skipped.
    bool sequence = false;
    std::string framesText;
    bool skipExisting = false;

    // The physical camera mode: chosen by any of its options.
    bool physical = false;
    dof::PhysicalParams camera;       // zNear, zFar, zReverse and a focus not given come from -n, -f, -r, -c
    bool focusDistanceGiven = false;
    std::string highlightsText;       // --highlights as given, when it is not auto, on or off
    bool highlightsValid = true;

    // The blur's parameters.
    dof::ExactParams Params() const;
    dof::PhysicalParams CameraParams() const;
};
