#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The bodies of the fuzz targets, shared by the libFuzzer programs and the
// regression test that replays their findings. Each takes arbitrary bytes,
// must neither crash nor read out of bounds, and traps when a result breaks
// what the code promises.

// The TGA reader: Load, PeekSize and DecodeImage against Load, CopyRGBA,
// CopyGrey. Returns whether the file loaded; its pixels go to rgba when given.
bool FuzzTga(const std::uint8_t* data, std::size_t size, std::vector<unsigned char>* rgba = nullptr);

// The Radiance reader: ParseHeader, FitsFileSize, Load, ComputeMeans.
// Returns whether the file loaded; its means go to means when given.
bool FuzzRgbe(const std::uint8_t* data, std::size_t size, std::vector<double>* means = nullptr);

// The readers that come through libraries (PNG, TIFF, OpenEXR), each in a
// file of its own (FuzzPng.cpp, ...): the decoder on arbitrary bytes, the
// size it peeks from the head against the size it decodes, and a refusal by
// size that keeps every pixel unallocated. Return whether the file decoded.
bool FuzzPng(const std::uint8_t* data, std::size_t size);
bool FuzzTiff(const std::uint8_t* data, std::size_t size);
bool FuzzExr(const std::uint8_t* data, std::size_t size);

// Where the program's way from a command line and three files' bytes to a
// blur ready to run ends.
enum class SetupStatus {
    kReady,          // the blur may run
    kLoadFailed,     // one or more inputs were not decoded
    kDepthSize,      // depth size differs from the colour size
    kLensSize,       // lens is not 256 x 256
    kImageTooLarge,  // an input's picture would not fit in memory
    kBlurTooLarge,   // the kernels and tables of the largest blur would not fit
};

// The program's way from the command line and three files' bytes to a blur
// ready to run (the library's decoding and PrepareExact), with a small memory
// budget (kFuzzBudget), without the blur. The bytes are SetupInput's format.
// Returns the SetupStatus as an int, or -1 when the bytes or the parameters
// stop it before the files are decoded.
int FuzzSetup(const std::uint8_t* data, std::size_t size);
constexpr double kFuzzBudget = 64.0 * 1024 * 1024;

// Input of FuzzSetup: the arguments as one text, then the depth, colour and
// lens files. Layout: 2-byte argument text length, the text (arguments
// separated by spaces), 4-byte depth length, 4-byte colour length (both
// little-endian, cut to what is there), the depth bytes, the colour bytes,
// and the rest is the lens.
std::vector<std::uint8_t> SetupInput(const char* arguments, const std::vector<std::uint8_t>& depth,
                                     const std::vector<std::uint8_t>& colour, const std::vector<std::uint8_t>& lens);
