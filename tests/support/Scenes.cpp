#include "support/Scenes.h"

#include <cmath>
#include <cstdint>

namespace {

std::uint32_t Hash(std::uint32_t x, std::uint32_t y, std::uint32_t seed) {
    std::uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

enum class Region { Sky, Background, Floor, Subject, SubjectCore, Zero };

// Regions in proportion to the picture, so every size gets each part it can hold.
Region RegionAt(int x, int y, int width, int height) {
    const double u = (x + 0.5) / width;
    const double v = (y + 0.5) / height;
    if (x == (width * 3) / 4 && y == height / 3) return Region::Zero;
    const double du = (u - 0.35) * width;
    const double dv = (v - 0.55) * height;
    const double radius = 0.28 * (width < height ? width : height) + 1.0;
    if (du * du + dv * dv <= radius * radius) {
        if (std::fabs(du) < radius * 0.3 && std::fabs(dv) < radius * 0.5) return Region::SubjectCore;
        return Region::Subject;
    }
    if (v < 0.2) return Region::Sky;
    if (v > 0.7) return Region::Floor;
    return Region::Background;
}

unsigned char Channel(int value) { return static_cast<unsigned char>(value < 0 ? 0 : value > 255 ? 255 : value); }

}  // namespace

unsigned char SceneDepthByte(int x, int y, int width, int height) {
    switch (RegionAt(x, y, width, height)) {
    case Region::Zero: return 0;
    case Region::Sky: return 255;
    case Region::Subject: return 60;
    case Region::SubjectCore: return 45;
    case Region::Floor: {
        // Rises across the focus distance (128) in steps two columns wide.
        const int step = (x / 2) * 64 / (width > 1 ? width : 1);
        return static_cast<unsigned char>(100 + step);
    }
    case Region::Background:
    default:
        // Bands four rows high: hard horizontal edges and runs of equal depth.
        return static_cast<unsigned char>(200 + ((y / 4) * 11) % 50);
    }
}

double SceneDepthValue(int x, int y, int width, int height) {
    switch (RegionAt(x, y, width, height)) {
    case Region::Zero: return 0.0;
    case Region::Sky: return 3.0;
    case Region::Subject: return 0.25;
    case Region::SubjectCore: return 0.2;
    case Region::Floor: return 0.375 + 0.0625 * ((x / 2) % 5);  // 0.5 exactly on every fifth step
    case Region::Background:
    default: return 0.9 + 0.125 * ((y / 4) % 7);                 // beyond 1 on most bands
    }
}

BlurInput MakeScene(int width, int height, unsigned seed) {
    BlurInput scene;
    scene.width = width;
    scene.height = height;
    const size_t count = static_cast<size_t>(width) * height;
    scene.colour.resize(count * 4);
    scene.depthBytes.resize(count * 4);
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const std::uint32_t noise = Hash(x, y, seed);
            const int jitter = static_cast<int>(noise % 61) - 30;
            int r, g, b, a = 255;
            switch (RegionAt(x, y, width, height)) {
            case Region::Sky:
                r = 120 + jitter / 3;
                g = 170 + jitter / 3;
                b = 235;
                break;
            case Region::Background: {
                // Fine checker with noise: detail the blur must average away.
                const bool dark = ((x / 2) + (y / 2)) % 2 == 0;
                r = (dark ? 60 : 190) + jitter;
                g = (dark ? 90 : 150) + jitter;
                b = (dark ? 40 : 110) + jitter;
                break;
            }
            case Region::Floor:
                r = 150 + jitter;
                g = 120 + (x * 7) % 40;
                b = 90 + jitter / 2;
                break;
            case Region::Subject:
                r = 210 + jitter / 2;
                g = 80 + jitter;
                b = 70;
                break;
            case Region::SubjectCore:
                r = 240;
                g = 200 + jitter / 2;
                b = 60 + jitter;
                break;
            case Region::Zero:
            default:
                r = 30;
                g = 200;
                b = 30;
                break;
            }
            // Highlights: sparse saturated spots, which the exposure mapping blooms.
            if (noise % 97 == 0) r = g = b = 255;
            if (noise % 89 == 0) {
                r = 255;
                g = 240;
                b = 190;
            }
            // Partial alpha in the top-left corner and on scattered pixels.
            if (x < width / 5 && y < height / 4) a = 96 + (noise % 64);
            if (noise % 53 == 0) a = 0;
            scene.colour[4 * i] = Channel(r);
            scene.colour[4 * i + 1] = Channel(g);
            scene.colour[4 * i + 2] = Channel(b);
            scene.colour[4 * i + 3] = Channel(a);

            const unsigned char d = SceneDepthByte(x, y, width, height);
            scene.depthBytes[4 * i] = d;
            scene.depthBytes[4 * i + 1] = d;
            scene.depthBytes[4 * i + 2] = d;
            scene.depthBytes[4 * i + 3] = 255;
        }
    }
    scene.lens = DiscLens();
    return scene;
}

void UseDepthValues(BlurInput& scene) {
    scene.depthIsValues = true;
    scene.depthBytes.clear();
    scene.depthValues.resize(static_cast<size_t>(scene.width) * scene.height);
    for (int y = 0; y < scene.height; y++)
        for (int x = 0; x < scene.width; x++)
            scene.depthValues[static_cast<size_t>(y) * scene.width + x] = SceneDepthValue(x, y, scene.width, scene.height);
}

BlurInput MakeFlatScene(int width, int height, unsigned char depthByte) {
    BlurInput scene;
    scene.width = width;
    scene.height = height;
    const size_t count = static_cast<size_t>(width) * height;
    scene.colour.assign(count * 4, 0);
    scene.depthBytes.assign(count * 4, 0);
    for (size_t i = 0; i < count; i++) {
        scene.colour[4 * i] = 200;
        scene.colour[4 * i + 1] = 100;
        scene.colour[4 * i + 2] = 50;
        scene.colour[4 * i + 3] = 255;
        scene.depthBytes[4 * i] = scene.depthBytes[4 * i + 1] = scene.depthBytes[4 * i + 2] = depthByte;
        scene.depthBytes[4 * i + 3] = 255;
    }
    scene.lens = DiscLens();
    return scene;
}

namespace {

// Coverage of a disc of the given radius around the lens centre, with a
// soft edge one pixel wide.
double DiscCover(int x, int y, double cx, double cy, double radius) {
    const double d = std::sqrt((x + 0.5 - cx) * (x + 0.5 - cx) + (y + 0.5 - cy) * (y + 0.5 - cy));
    if (d <= radius - 0.5) return 1.0;
    if (d >= radius + 0.5) return 0.0;
    return radius + 0.5 - d;
}

template <typename PixelFn>
std::vector<unsigned char> MakeLens(PixelFn pixel) {
    std::vector<unsigned char> bytes(256 * 256 * 4);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int rgba[4];
            pixel(x, y, rgba);
            for (int c = 0; c < 4; c++) bytes[(y * 256 + x) * 4 + c] = Channel(rgba[c]);
        }
    return bytes;
}

}  // namespace

std::vector<unsigned char> DiscLens() {
    return MakeLens([](int x, int y, int* p) {
        const int v = static_cast<int>(255.0 * DiscCover(x, y, 128.0, 128.0, 110.0));
        p[0] = p[1] = p[2] = v;
        p[3] = 255;
    });
}

std::vector<unsigned char> GreyBorderLens() {
    return MakeLens([](int x, int y, int* p) {
        const double c = DiscCover(x, y, 128.0, 128.0, 100.0);
        p[0] = static_cast<int>(60 + 195 * c);
        p[1] = static_cast<int>(90 + 165 * c);
        p[2] = static_cast<int>(40 + 200 * c) + (x == 0 || y == 255 ? 30 : 0);
        p[3] = 7;  // the file's alpha never reaches the lens
    });
}

std::vector<unsigned char> NoBlueLens() {
    return MakeLens([](int x, int y, int* p) {
        const double c = DiscCover(x, y, 128.0, 128.0, 105.0);
        p[0] = static_cast<int>(255 * c);
        p[1] = static_cast<int>(180 * c);
        p[2] = 0;
        p[3] = 255;
    });
}

std::vector<unsigned char> RingLens() {
    return MakeLens([](int x, int y, int* p) {
        const double c = DiscCover(x, y, 128.0, 128.0, 112.0) - DiscCover(x, y, 128.0, 128.0, 70.0);
        const int v = static_cast<int>(255.0 * (c < 0.0 ? 0.0 : c));
        p[0] = p[1] = p[2] = v;
        p[3] = 255;
    });
}

std::vector<unsigned char> LopsidedLens() {
    return MakeLens([](int x, int y, int* p) {
        // A disc brighter to the right and lower down, with an off-centre spot.
        const double c = DiscCover(x, y, 120.0, 136.0, 100.0);
        const double spot = DiscCover(x, y, 170.0, 80.0, 30.0);
        p[0] = static_cast<int>(c * (60 + 0.7 * x) + 200 * spot);
        p[1] = static_cast<int>(c * (40 + 0.8 * y));
        p[2] = static_cast<int>(c * (250 - 0.5 * x - 0.3 * y) + 100 * spot);
        p[3] = 255;
    });
}
