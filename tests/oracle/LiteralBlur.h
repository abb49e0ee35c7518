#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "image/FroatImage.h"
#include "oracle/BlurInput.h"

// The whole blur written out literally: one thread, plain loops, clamped
// pixel reads and an ordered map of kernels. It is the reference the fast
// engine must match byte for byte, so it favours being obviously right over
// being quick. Call the phases in order: Setup, FirstPass, Link, Gather,
// then ToBytes.
class LiteralBlur {
public:
    // Converts the decoded inputs the way the program does before a run.
    explicit LiteralBlur(const BlurInput& input);
    // Records point into the kernel map: a copy would point into the original.
    LiteralBlur(const LiteralBlur&) = delete;
    LiteralBlur& operator=(const LiteralBlur&) = delete;

    void Setup();
    void FirstPass();
    void Link();
    void Gather();
    std::vector<unsigned char> ToBytes() const;
    // Setup, FirstPass, Link and Gather in order.
    void Run();

    // The blur size of pixel (x, y) from its depth.
    double DepthBlur(int x, int y) const;

    struct Record {
        double spread = 0.0;
        double reach = 0.0;
        double blur = 0.0;
        const CImageFroat* kernel = nullptr;
    };
    const Record& RecordAt(int x, int y) const { return pixels[static_cast<size_t>(y) * source.width + x]; }

    // Gather work: in-image neighbour positions looked at, and neighbours
    // that passed both tests and were accumulated.
    std::uint64_t windowVisits = 0;
    std::uint64_t contributions = 0;

    // How often the comparisons at their boundaries decided, so tests can
    // show that a scene really exercises them.
    struct BoundaryHits {
        std::uint64_t spreadEqualDepth = 0;     // first pass: another pixel of equal depth counted
        std::uint64_t gatherEqualDepth = 0;     // gather: occlusion passed only by equal depth
        std::uint64_t behindAtCentreSpread = 0; // gather: behind, t equal to the centre's spread, skipped
        std::uint64_t reachExactlyOne = 0;      // gather: spread - t exactly 1, accumulated
        std::uint64_t atFocusMirrored = 0;      // gather: neighbour exactly at focus, accumulated
        std::uint64_t emptyWeightChannels = 0;  // gather: channels whose weight sum stayed 0
        std::uint64_t spreadWithoutContributors = 0;  // first pass: no offset counted
    };
    BoundaryHits hits;

    // Inputs after conversion.
    CImageFroat source;
    CImageFroat depth;
    CImageFroat lens;
    BlurOptions options;
    double maxBlur = 0.0;

    // Working state and result.
    CImageFroat exposure;
    CImageFroat result;
    CImageFroat weightSum;
    std::vector<Record> pixels;
    std::map<double, CImageFroat> kernels;
    std::vector<double> distanceTable;
    double largestBlur = 0.0;
    int kernelSize = 3;

private:
    void FirstPassPixel(int x, int y);
    void GatherPixel(int x, int y);
    void ClampPixel(int x, int y);
};

// Runs every phase and returns the output bytes (R, G, B, A, top row first).
std::vector<unsigned char> OracleBlur(const BlurInput& input);
