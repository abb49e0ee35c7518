#include "physical/BandScatter.h"

#include <algorithm>

BandScatter::BandScatter(const SourceTable& sources, const KernelSet& kernels, int bandHeight)
    : sources_(sources), kernels_(kernels) {
    const int radius = kernels.LargestRadius();
    // A repeated edge source lies up to radius + 1 beyond the border and
    // steps up to radius + 1 further.
    pad_ = 2 * radius + 3;
    stride_ = ((sources.Width() + 2 * pad_ + kBlock - 1) / kBlock) * kBlock;
    blocks_ = stride_ / kBlock + 1;
    delta_.assign(static_cast<std::size_t>(bandHeight) * stride_, Lanes{0, 0, 0, 0});
    reached_.assign(static_cast<std::size_t>(bandHeight) * blocks_, 0);
}

void BandScatter::Run(int y0, int y1, LightField& far, LightField& near) {
    for (int layer = 0; layer < sources_.Layers(); ++layer) {
        ScatterLayer(layer, y0, y1);
        Settle(y0, y1, layer <= (sources_.Layers() - 1) / 2 ? far : near);
    }
}

void BandScatter::ScatterLayer(int layer, int y0, int y1) {
    const int reach = sources_.LayerRadius(layer);
    const int w = sources_.Width();
    const int h = sources_.Height();
    for (int sy = y0 - reach; sy < y1 + reach; ++sy) {
        const int row = std::min(std::max(sy, 0), h - 1);
        const Source* begin = sources_.Begin(row, layer);
        const Source* end = sources_.End(row, layer);
        if (begin == end) continue;
        // The band's rows as kernel rows of this source row.
        if (begin->X() == 0) {
            const BokehKernel& kernel = kernels_[begin->Kernel()];
            const Lanes light = {begin->r, begin->g, begin->b, 1.0f};
            for (int x = -(kernel.radius + 1); x < 0; ++x) Add(kernel, x, sy, y0, y1, light);
        }
        for (const Source* s = begin; s != end; ++s)
            Add(kernels_[s->Kernel()], s->X(), sy, y0, y1, Lanes{s->r, s->g, s->b, 1.0f});
        const Source* last = end - 1;
        if (last->X() == w - 1) {
            const BokehKernel& kernel = kernels_[last->Kernel()];
            const Lanes light = {last->r, last->g, last->b, 1.0f};
            for (int x = w; x <= w + kernel.radius; ++x) Add(kernel, x, sy, y0, y1, light);
        }
    }
}

void BandScatter::Add(const BokehKernel& kernel, int x, int sy, int y0, int y1, Lanes light) {
    const int first = std::max(y0 - sy, -kernel.radius);
    const int last = std::min(y1 - 1 - sy, kernel.radius);
    const int column = x + pad_;
    std::size_t steps = 0;
    for (int dy = first; dy <= last; ++dy) {
        const KernelRow& row = kernel.Row(dy);
        if (row.count == 0) continue;
        const int bandRow = sy + dy - y0;
        Lanes* cells = delta_.data() + static_cast<std::size_t>(bandRow) * stride_ + column;
        const RunStep* step = kernel.steps.data() + row.first;
        const RunStep* end = step + row.count;
        for (; step != end; ++step) cells[step->dx] += step->dv * light;
        std::int32_t* reached = reached_.data() + static_cast<std::size_t>(bandRow) * blocks_;
        ++reached[(column + row.left) / kBlock];
        --reached[(column + row.right) / kBlock + 1];
        steps += static_cast<std::size_t>(row.count);
    }
    steps_ += static_cast<double>(steps);
}

void BandScatter::Settle(int y0, int y1, LightField& field) {
    const int w = sources_.Width();
    for (int y = y0; y < y1; ++y) {
        Lanes* cells = delta_.data() + static_cast<std::size_t>(y - y0) * stride_;
        std::int32_t* reached = reached_.data() + static_cast<std::size_t>(y - y0) * blocks_;
        float* out = field.Row(y);
        double sum[4] = {0, 0, 0, 0};
        bool running = false;
        std::int32_t spans = 0;
        for (int b = 0; b + 1 < blocks_; ++b) {
            spans += reached[b];
            reached[b] = 0;
            if (spans == 0) {
                running = false;  // no kernel row spans these columns: the light is exactly zero
                continue;
            }
            if (!running) sum[0] = sum[1] = sum[2] = sum[3] = 0.0;
            running = true;
            for (int c = b * kBlock; c < (b + 1) * kBlock; ++c) {
                const Lanes step = cells[c];
                cells[c] = Lanes{0, 0, 0, 0};
                for (int k = 0; k < 4; ++k) sum[k] += step[k];
                const int x = c - pad_;
                if (x >= 0 && x < w && sum[3] != 0.0) LayOver(out + 4 * x, sum);
            }
        }
        reached[blocks_ - 1] = 0;
    }
}
