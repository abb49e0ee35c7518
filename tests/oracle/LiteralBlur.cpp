#include "oracle/LiteralBlur.h"

#include <cmath>
#include <set>

#include "oracle/LiteralLens.h"
#include "oracle/LiteralRounding.h"

LiteralBlur::LiteralBlur(const BlurInput& input) : options(input.options) {
    source.SetFromRGBA8(input.width, input.height, input.colour.data());

    if (input.depthIsValues) {
        depth.Resize(input.width, input.height, FroatPixel{});
        for (int i = 0; i < input.width * input.height; i++) {
            double v = input.depthValues[i];
            if (options.zReverse) v = 1.0 - v;
            depth.SetPixel(i % input.width, i / input.width, FroatPixel{v, v, v, v});
        }
    } else {
        std::vector<unsigned char> bytes = input.depthBytes;
        if (options.zReverse)
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(255 - b);
        depth.SetFromRGBA8(input.width, input.height, bytes.data());
    }

    std::vector<unsigned char> lensBytes = input.lens;
    for (int i = 0; i < 256 * 256; i++) {
        const int grey = (lensBytes[4 * i] + lensBytes[4 * i + 1] + lensBytes[4 * i + 2]) / 3;
        lensBytes[4 * i + 3] = static_cast<unsigned char>(grey);
    }
    lens.SetFromRGBA8(256, 256, lensBytes.data());

    maxBlur = 5.0 * options.blurSize;
}

double LiteralBlur::DepthBlur(int x, int y) const {
    const double d = depth.PixelAt(x, y).r;
    const double z = (options.zFar - options.zNear) * d + options.zNear;
    const double off = z - options.focus;
    const double den = options.focus + off;
    double ratio;
    if (den == 0.0)
        ratio = 100.0;
    else
        ratio = std::fabs(off / den);
    double v = options.blurSize * ratio;
    if (v < 1.0) v = 1.0;
    if (v > maxBlur) v = maxBlur;
    return v;
}

void LiteralBlur::Setup() {
    const int w = source.width;
    const int h = source.height;
    result.Resize(w, h, FroatPixel{});
    weightSum.Resize(w, h, FroatPixel{});
    exposure.Resize(w, h, FroatPixel{});
    pixels.assign(static_cast<size_t>(w > 0 && h > 0 ? w * h : 0), Record{});

    largestBlur = 0.0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const double b = DepthBlur(x, y);
            pixels[y * w + x].blur = b;
            if (b > largestBlur) largestBlur = b;
        }
    }
    kernelSize = LiteralKernelDimension(largestBlur);

    const int k = kernelSize;
    const int half = k / 2;
    distanceTable.assign(static_cast<size_t>(k) * k, 0.0);
    for (int dy = -half; dy <= -half + k - 1; dy++)
        for (int dx = -half; dx <= -half + k - 1; dx++)
            distanceTable[(half + dy) * k + (half + dx)] = 2.0 * std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

void LiteralBlur::FirstPass() {
    for (int y = 0; y < source.height; y++) {
        std::set<double> seenSpreads;  // kept for the shape of the pass; the map alone decides
        for (int x = 0; x < source.width; x++) {
            FirstPassPixel(x, y);
            const double spread = pixels[y * source.width + x].spread;
            if (seenSpreads.count(spread) != 0) continue;
            seenSpreads.insert(spread);
            if (kernels.count(spread) != 0) continue;
            const int n = LiteralKernelDimension(spread);
            kernels[spread] = LiteralResampleLens(lens, n, static_cast<double>(n) / spread);
        }
    }
}

void LiteralBlur::FirstPassPixel(int x, int y) {
    const int w = source.width;
    const int h = source.height;
    const int k = kernelSize;

    // Exposure: strong 1 would make every colour 1, so colours then stay linear.
    const FroatPixel p = source.PixelAt(x, y);
    FroatPixel e;
    if (options.strong == 1.0) {
        e.r = p.r * 255.0;
        e.g = p.g * 255.0;
        e.b = p.b * 255.0;
    } else {
        e.r = std::pow(options.strong, p.r * 255.0);
        e.g = std::pow(options.strong, p.g * 255.0);
        e.b = std::pow(options.strong, p.b * 255.0);
    }
    e.a = p.a * 255.0;
    exposure.SetPixel(x, y, e);

    // Reach: the largest blur in the k x k window, at least 1.
    double m = 1.0;
    for (int v = y - k / 2; v <= y - k / 2 + k - 1; v++) {
        for (int u = x - k / 2; u <= x - k / 2 + k - 1; u++) {
            if (u < 0 || u >= w || v < 0 || v >= h) continue;
            if (pixels[v * w + u].blur > m) m = pixels[v * w + u].blur;
        }
    }
    Record& own = pixels[y * w + x];
    own.reach = LiteralRoundUpThird(m);

    // Spread: the mean of the neighbours' discs that cover this pixel.
    const int n = LiteralKernelDimension(own.reach);
    double sum = 0.0;
    int count = 0;
    const double dc = depth.PixelAt(x, y).r;
    for (int dy = -(n / 2); dy <= -(n / 2) + n - 1; dy++) {
        for (int dx = -(n / 2); dx <= -(n / 2) + n - 1; dx++) {
            const int u = x + dx;
            const int v = y + dy;
            if (u < 0 || u >= w || v < 0 || v >= h) continue;
            const double dist = distanceTable[(k / 2 + dy) * k + (k / 2 + dx)];
            const double dn = depth.PixelAt(u, v).r;
            const double b = pixels[v * w + u].blur;
            if (!(dn <= dc)) continue;
            const double mm = 1.0 - (b - dist) / b;
            const double j = b * (1.0 - mm * mm);
            if (j >= 1.0) {
                sum = sum + j;
                count = count + 1;
                if (dn == dc && (dx != 0 || dy != 0)) hits.spreadEqualDepth++;
            }
        }
    }
    if (count == 0) {
        // Only when every blur is below 1: the pixel keeps its own light.
        own.spread = 1.0;
        hits.spreadWithoutContributors++;
    } else {
        own.spread = LiteralRoundUpThird(sum / count);
    }
}

void LiteralBlur::Link() {
    for (int y = 0; y < source.height; y++)
        for (int x = 0; x < source.width; x++) {
            Record& r = pixels[y * source.width + x];
            r.kernel = &kernels[r.spread];
        }
}

void LiteralBlur::Gather() {
    for (int y = 0; y < source.height; y++)
        for (int x = 0; x < source.width; x++) {
            GatherPixel(x, y);
            ClampPixel(x, y);
        }
}

void LiteralBlur::GatherPixel(int x, int y) {
    const int w = source.width;
    const int h = source.height;
    const int k = kernelSize;
    const Record& centre = pixels[y * w + x];

    int win = LiteralKernelDimension(centre.reach);
    if (win > k) win = k;
    const int hw = win / 2;
    const double cDepth = depth.PixelAt(x, y).r;
    const double cSpread = centre.spread;

    for (int dy = -hw; dy <= -hw + win - 1; dy++) {
        for (int dx = -hw; dx <= -hw + win - 1; dx++) {
            const int nx = x + dx;
            const int ny = y + dy;
            if (nx < 0 || nx >= w || ny < 0 || ny >= h) continue;
            windowVisits++;
            const double t = distanceTable[(k / 2 + dy) * k + (k / 2 + dx)];
            const double nDepth = depth.PixelAt(nx, ny).r;
            const Record& neighbour = pixels[ny * w + nx];
            const double nSpread = neighbour.spread;
            const FroatPixel xp = exposure.PixelAt(nx, ny);

            if (!(nDepth <= cDepth || t < cSpread)) {
                if (nDepth > cDepth && t == cSpread) hits.behindAtCentreSpread++;
                continue;
            }
            if (!(nSpread - t >= 1.0)) continue;

            const int n = LiteralKernelDimension(LiteralRoundUpThird(nSpread));
            const double zN = (options.zFar - options.zNear) * nDepth + options.zNear;
            int kx, ky;
            if (zN <= options.focus) {
                kx = n / 2 + dx;
                ky = n / 2 + dy;
            } else {
                kx = n / 2 - dx;
                ky = n / 2 - dy;
            }
            const CImageFroat& kernel = *neighbour.kernel;
            if (kx < 0) kx = 0;
            if (kx > kernel.width - 1) kx = kernel.width - 1;
            if (ky < 0) ky = 0;
            if (ky > kernel.height - 1) ky = kernel.height - 1;
            const FroatPixel l = kernel.PixelAt(kx, ky);

            FroatPixel r = result.PixelAt(x, y);
            FroatPixel s = weightSum.PixelAt(x, y);
            r.r = r.r + l.r * xp.r;
            r.g = r.g + l.g * xp.g;
            r.b = r.b + l.b * xp.b;
            r.a = r.a + l.a * xp.a;
            s.r = s.r + l.r;
            s.g = s.g + l.g;
            s.b = s.b + l.b;
            s.a = s.a + l.a;
            result.SetPixel(x, y, r);
            weightSum.SetPixel(x, y, s);

            contributions++;
            if (nDepth == cDepth && !(t < cSpread) && (dx != 0 || dy != 0)) hits.gatherEqualDepth++;
            if (nSpread - t == 1.0) hits.reachExactlyOne++;
            if (zN == options.focus) hits.atFocusMirrored++;
        }
    }

    // Back from exposure space. A channel that received no weight keeps the
    // source's own value; strong 1 averages the colours linearly.
    const FroatPixel sum = result.PixelAt(x, y);
    const FroatPixel weight = weightSum.PixelAt(x, y);
    const FroatPixel own = source.PixelAt(x, y);
    const double lg = std::log(options.strong);
    const bool linear = options.strong == 1.0;
    const double sums[4] = {sum.r, sum.g, sum.b, sum.a};
    const double weights[4] = {weight.r, weight.g, weight.b, weight.a};
    const double owns[4] = {own.r, own.g, own.b, own.a};
    double out[4];
    for (int c = 0; c < 4; c++) {
        if (weights[c] == 0.0) {
            out[c] = owns[c];
            hits.emptyWeightChannels++;
        } else if (c == 3 || linear) {
            out[c] = (sums[c] / weights[c]) / 255.0;
        } else {
            out[c] = std::log(sums[c] / weights[c]) / lg / 255.0;
        }
    }
    result.SetPixel(x, y, FroatPixel{out[0], out[1], out[2], out[3]});
}

void LiteralBlur::ClampPixel(int x, int y) {
    FroatPixel p = result.PixelAt(x, y);
    double* channels[4] = {&p.r, &p.g, &p.b, &p.a};
    for (double* v : channels) {
        if (*v >= 1.0) *v = 0.99999;
        if (*v < 0.0) *v = 0.0;
    }
    result.SetPixel(x, y, p);
}

std::vector<unsigned char> LiteralBlur::ToBytes() const {
    const int w = source.width;
    const int h = source.height;
    std::vector<unsigned char> bytes(static_cast<size_t>(w > 0 && h > 0 ? w * h : 0) * 4);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const FroatPixel p = result.PixelAt(x, y);
            const double channels[4] = {p.r, p.g, p.b, p.a};
            for (int c = 0; c < 4; c++) {
                const double v = channels[c];
                bytes[(y * w + x) * 4 + c] = std::isnan(v) ? 0 : static_cast<unsigned char>(static_cast<int>(v * 256.0));
            }
        }
    }
    return bytes;
}

void LiteralBlur::Run() {
    Setup();
    FirstPass();
    Link();
    Gather();
}

std::vector<unsigned char> OracleBlur(const BlurInput& input) {
    LiteralBlur blur(input);
    blur.Run();
    return blur.ToBytes();
}
