#include "physical/BandScatter.h"

#include <algorithm>
#include <cstring>

BandScatter::BandScatter(const SourceTable& sources, const KernelSet& kernels, int bandHeight)
    : sources_(sources), kernels_(kernels) {
    const int radius = kernels.LargestRadius();
    // A repeated edge source lies up to radius + 1 beyond the border and
    // steps up to radius + 1 further.
    pad_ = 2 * radius + 3;
    stride_ = ((sources.Width() + 2 * pad_ + kBlock - 1) / kBlock) * kBlock;
    blocks_ = stride_ / kBlock + 1;
    delta_.assign(static_cast<std::size_t>(bandHeight) * stride_ * 4, 0.0f);
    stream_ = ChooseStepStream();
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
        // The row's sources in order, edge sources repeated beyond the
        // borders, as runs of neighbours with the same kernel.
        lights_.clear();
        runs_.clear();
        auto put = [&](int x, std::int32_t kernel, const Source& s) {
            if (runs_.empty() || runs_.back().kernel != kernel || runs_.back().x + runs_.back().count != x)
                runs_.push_back({x, 0, kernel, lights_.size()});
            ++runs_.back().count;
            lights_.insert(lights_.end(), {s.r, s.g, s.b, 1.0f});
        };
        if (begin->X() == 0)
            for (int x = -(kernels_[begin->Kernel()].radius + 1); x < 0; ++x) put(x, begin->Kernel(), *begin);
        for (const Source* s = begin; s != end; ++s) put(s->X(), s->Kernel(), *s);
        const Source* last = end - 1;
        if (last->X() == w - 1)
            for (int x = w; x <= w + kernels_[last->Kernel()].radius; ++x) put(x, last->Kernel(), *last);
        for (const SourceRun& run : runs_) AddRun(run, sy, y0, y1);
    }
}

void BandScatter::AddRun(const SourceRun& run, int sy, int y0, int y1) {
    const BokehKernel& kernel = kernels_[run.kernel];
    const int first = std::max(y0 - sy, -kernel.radius);
    const int last = std::min(y1 - 1 - sy, kernel.radius);
    const int column = run.x + pad_;
    const int count = run.count;
    const float* lights = lights_.data() + run.light;
    std::size_t steps = 0;
    for (int dy = first; dy <= last; ++dy) {
        const KernelRow& row = kernel.Row(dy);
        if (row.count == 0) continue;
        const int bandRow = sy + dy - y0;
        float* cells = delta_.data() + (static_cast<std::size_t>(bandRow) * stride_ + column) * 4;
        const RunStep* step = kernel.steps.data() + row.first;
        const RunStep* end = step + row.count;
        if (count == 1) {
            Lanes light;
            std::memcpy(&light, lights, sizeof light);
            for (; step != end; ++step) {
                float* target = cells + 4 * step->dx;
                Lanes sum;
                std::memcpy(&sum, target, sizeof sum);
                sum += step->dv * light;
                std::memcpy(target, &sum, sizeof sum);
            }
        } else {
            // Each step of the row over the whole run: a stream without
            // waits between neighbours.
            stream_(cells, step, end, lights, count);
        }
        std::int32_t* reached = reached_.data() + static_cast<std::size_t>(bandRow) * blocks_;
        ++reached[(column + row.left) / kBlock];
        --reached[(column + count - 1 + row.right) / kBlock + 1];
        steps += static_cast<std::size_t>(row.count) * static_cast<std::size_t>(count);
    }
    steps_ += static_cast<double>(steps);
}

void BandScatter::Settle(int y0, int y1, LightField& field) {
    const int w = sources_.Width();
    for (int y = y0; y < y1; ++y) {
        float* cells = delta_.data() + static_cast<std::size_t>(y - y0) * stride_ * 4;
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
                float* step = cells + 4 * c;
                for (int k = 0; k < 4; ++k) sum[k] += step[k];
                step[0] = step[1] = step[2] = step[3] = 0.0f;
                const int x = c - pad_;
                if (x >= 0 && x < w && sum[3] != 0.0) LayOver(out + 4 * x, sum);
            }
        }
        reached[blocks_ - 1] = 0;
    }
}
