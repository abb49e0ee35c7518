#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Seed inputs of the fuzz targets, made by small encoders of their own: every
// TGA variant the reader knows (grey, true colour with and without alpha,
// uncompressed and run-length with packets running across rows, either
// origin, image IDs, colour maps) and the ones it refuses; Radiance files
// with LF and CRLF headers whose runs and literals end exactly at scanline
// ends; and whole driver inputs (FuzzTargets.h SetupInput) for every outcome.
struct Seed {
    std::string name;
    std::vector<std::uint8_t> bytes;
    int expect = 0;   // readers: 1 loads, 0 refused; setup: the SetupStatus, or -1
    int picture = -1;  // seeds with the same picture decode to the same pixels
};

std::vector<Seed> TgaSeeds();
std::vector<Seed> RgbeSeeds();
std::vector<Seed> SetupSeeds();
// Files of the project's own writers (and, for layouts it does not write,
// of the library itself), in the file of each fuzz target.
std::vector<Seed> PngSeeds();
std::vector<Seed> TiffSeeds();
std::vector<Seed> ExrSeeds();

// The means that ComputeMeans gives for the Radiance seeds of a picture.
std::vector<double> RgbeSeedMeans(int picture);
