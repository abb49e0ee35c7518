#pragma once
// Generators of TGA and Radiance RGBE files for tests, file helpers, and a
// runner for the built program.
#include <cstddef>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<unsigned char>;

// A picture as R, G, B, A bytes, top row first, rows without gaps.
struct Picture {
    int width = 0;
    int height = 0;
    Bytes rgba;

    static Picture Filled(int width, int height, unsigned char r, unsigned char g, unsigned char b,
                          unsigned char a = 255);
    // Deterministic pixels that mix stretches of equal pixels (some longer than
    // a row) with ever-changing ones, so run-length files hold both packet kinds.
    static Picture Pattern(int width, int height, unsigned seed, bool opaque = true);
    // White disc of the given radius on black, centred, as a lens would be.
    static Picture Disc(int size, double radius);
    // Every pixel's R, G and B set to its R (how an 8-bit grey file decodes).
    Picture AsGrey() const;

    unsigned char* At(int x, int y) { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
    const unsigned char* At(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

// How a TGA file is laid out.
struct TgaLayout {
    int bitsPerPixel = 24;        // 8 (grey, taken from R), 24 or 32
    bool runLength = false;       // types 10 / 11 instead of 2 / 3
    bool topLeft = false;         // descriptor bit 5
    std::string imageId;          // bytes between the header and the pixels
    int colourMapEntries = 0;     // > 0 writes colour-map type 1 with this many entries
    int colourMapEntryBits = 24;  // 15, 16, 24 or 32
    int imageTypeOverride = -1;   // >= 0 forces byte 2
    bool footer = false;          // appends a 26-byte version 2 footer
};

Bytes MakeTga(const Picture& picture, const TgaLayout& layout);

// The TGA run-length stream of a whole pixel sequence. Rows are not looked
// at, so packets run on from one row into the next.
Bytes EncodeTgaRle(const Bytes& pixels, int bytesPerPixel);

// How a Radiance file is laid out.
struct RgbeLayout {
    bool crlf = false;                    // CR LF at every header line end
    std::vector<std::string> extraLines;  // written between the "#?" and FORMAT lines
    std::string programType = "RADIANCE";
    std::string format = "32-bit_rle_rgbe";
    std::string resolution;               // empty: "-Y <height> +X <width>"
};

// A Radiance file of width x height pixels given as R, G, B, E bytes, first
// scanline first, each scanline new-style run-length encoded.
Bytes MakeRgbe(int width, int height, const Bytes& rgbe, const RgbeLayout& layout = {});

// The header alone, up to and including the resolution line.
Bytes RgbeHeader(int width, int height, const RgbeLayout& layout = {});

// One new-style scanline (2, 2, length high, length low, then the R, G, B and
// E planes, each of runs and literals).
Bytes EncodeRgbeScanline(const unsigned char* rgbe, int length);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Names of the entries of a directory, sorted.
std::vector<std::string> ListDirectory(const std::string& path);

// A fresh directory under the system's temporary folder, removed with all its
// contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct RunResult {
    int exitCode = -1;  // 128 + signal number when the program was killed
    std::string output;  // everything written to standard output
    std::string errors;  // everything written to standard error
};

// Runs binary with args in workDir and waits for it. A fileSizeLimit of 0 or
// more caps the size of any file the program writes (writes beyond it fail).
RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args, const std::string& workDir,
                    long fileSizeLimit = -1);

}  // namespace testfiles

#ifdef DOF_BINARY
namespace testfiles {
inline RunResult RunDof(const std::vector<std::string>& args, const std::string& workDir, long fileSizeLimit = -1) {
    return RunBinary(DOF_BINARY, args, workDir, fileSizeLimit);
}
}  // namespace testfiles
#endif
