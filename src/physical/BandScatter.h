#pragma once
// The scatter of a band of output rows: for each layer in turn, every
// source whose kernel reaches the band adds its kernel rows' steps, times
// its colour and 1 (the coverage), into a difference buffer; one running
// sum per row then gives the layer's light, which is laid into the far or
// near field with the coverage rule. Every output value receives its
// additions in the same order (layer, source row, source column, step)
// however the rows are banded, so the bytes do not depend on the threads.
//
// Sources beyond the picture's borders repeat its edge pixels (the scene
// goes on beyond the frame); each reaches as far as its own kernel.
#include <cstdint>
#include <vector>

#include "physical/KernelSet.h"
#include "physical/LightField.h"
#include "physical/SourceTable.h"
#include "physical/StepStreams.h"

class BandScatter {
public:
    // bandHeight: the most rows a band may have.
    BandScatter(const SourceTable& sources, const KernelSet& kernels, int bandHeight);

    // Rows [y0, y1) of both fields, which must be zero there.
    void Run(int y0, int y1, LightField& far, LightField& near);
    // Run steps added so far.
    double Steps() const { return steps_; }

private:
    typedef float Lanes __attribute__((vector_size(16)));
    static constexpr int kBlock = 16;  // columns marked together as reached

    // Neighbouring sources of one row with the same kernel, and where their lights are.
    struct SourceRun {
        int x;
        int count;
        std::int32_t kernel;
        std::size_t light;
    };

    void ScatterLayer(int layer, int y0, int y1);
    void AddRun(const SourceRun& run, int sy, int y0, int y1);
    // Sums the band's rows of the layer into field and clears the buffer.
    void Settle(int y0, int y1, LightField& field);

    const SourceTable& sources_;
    const KernelSet& kernels_;
    int pad_;     // buffer columns left of column 0
    int stride_;  // buffer columns a row
    std::vector<float> delta_;   // four floats a column
    std::vector<float> lights_;  // of the source row at hand, four floats a source
    StepStream stream_;
    std::vector<SourceRun> runs_;
    // Per row, over blocks of kBlock columns: +1 where a kernel row's span
    // begins, -1 after it ends; a block is reached where their sum is above 0.
    std::vector<std::int32_t> reached_;
    int blocks_;
    double steps_ = 0.0;
};

// The coverage rule: a layer adds fully while the summed coverage stays
// within 1, and is scaled to the room left where it would pass it.
// pixel: light and coverage so far; layer: the layer's.
inline void LayOver(float* pixel, const double layer[4]) {
    const double covered = pixel[3];
    const double room = covered < 1.0 ? 1.0 - covered : 0.0;
    const double scale = layer[3] > room ? room / layer[3] : 1.0;
    for (int k = 0; k < 4; ++k) pixel[k] = static_cast<float>(pixel[k] + scale * layer[k]);
}
