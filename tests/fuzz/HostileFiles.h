#pragma once
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

// Small input files and a runner of the built program for the hostile-input
// tests.

using Bytes = std::vector<std::uint8_t>;

// A fresh, empty directory under the system's temporary directory; removed
// with everything in it when the object goes.
class ScratchDirectory {
public:
    ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    ~ScratchDirectory();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names of the files in the directory, sorted.
    std::vector<std::string> Files() const;

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);

// An uncompressed TGA header (18 bytes) for width x height at bits per pixel.
Bytes TgaHeader(int width, int height, int bits, int type);

// An 8-bit grey TGA picture with every pixel value; a 256 x 256 one is a lens.
Bytes GreyTga(int width, int height, std::uint8_t value);

// A 24-bit TGA picture with a pattern of colours.
Bytes ColourTga(int width, int height);

// A Radiance file whose pixels have the given (mantissa, exponent) pairs,
// one scanline per row, as uncompressed literals.
Bytes RgbeFile(int width, int height, const std::vector<std::pair<std::uint8_t, std::uint8_t>>& pixels);

// What a run of the program did.
struct RunResult {
    int exitCode = -1;    // when it exited
    int signal = 0;       // when a signal ended it
    std::string output;   // its standard output
    double seconds = 0.0;  // from start to end
};

struct RunLimits {
    rlim_t addressSpace = RLIM_INFINITY;  // RLIMIT_AS of the program
    int signalAfterInit = 0;              // sent once it printed "Init..."
};

// Runs the built program with arguments in directory and waits for it.
RunResult RunDof(const std::string& directory, const std::vector<std::string>& arguments,
                 const RunLimits& limits = RunLimits());
