#include "fuzz/SeedCorpus.h"

#include <cmath>
#include <cstring>

#include "fuzz/FuzzTargets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// --- TGA -----------------------------------------------------------------

struct TgaLayout {
    int width = 5;
    int height = 4;
    int bits = 24;
    bool runLength = false;
    bool topLeft = false;
    int idLength = 0;
    int mapEntries = 0;  // a colour map of this many entries when > 0
    int mapBits = 24;
    int type = -1;       // the image type byte; -1 picks it from bits and runLength
    bool footer = false;  // a TGA 2.0 footer after the pixels
    bool flat = false;    // every pixel the same
};

// Picture p as stored pixels (B, G, R, A or grey), top row first, with
// stretches of equal pixels so that run packets appear, some across rows.
Bytes StoredPixels(int picture, int width, int height, int bytesPerPixel) {
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int i = y * width + x;
            const bool flat = (i / 7) % 2 == 0;
            for (int c = 0; c < bytesPerPixel; ++c) {
                const int v = flat ? 40 * (i / 7) + 11 * c + picture : 13 * i + 29 * c + 5 * picture;
                rows.push_back(static_cast<std::uint8_t>(v));
            }
        }
    }
    return rows;
}

// The standard TGA run-length scheme over the whole pixel sequence, so that
// packets run on from one row into the next.
Bytes EncodeRle(const Bytes& pixels, int p) {
    const std::size_t n = pixels.size() / p;
    auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&pixels[a * p], &pixels[b * p], static_cast<std::size_t>(p)) == 0;
    };
    Bytes out;
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<std::uint8_t>(127 + run));
            out.insert(out.end(), &pixels[i * p], &pixels[i * p] + p);
            i += run;
            continue;
        }
        std::size_t raw = 1;
        while (i + raw < n && raw < 128 && !(i + raw + 1 < n && same(i + raw, i + raw + 1))) ++raw;
        out.push_back(static_cast<std::uint8_t>(raw - 1));
        out.insert(out.end(), &pixels[i * p], &pixels[(i + raw) * p]);
        i += raw;
    }
    return out;
}

Bytes MakeTga(const TgaLayout& layout, int picture) {
    const int p = layout.bits / 8;
    Bytes stored = layout.flat ? Bytes(static_cast<std::size_t>(layout.width) * layout.height * p, 200)
                             : StoredPixels(picture, layout.width, layout.height, p);
    if (!layout.topLeft) {  // bottom row first in the file
        Bytes flipped;
        const std::size_t row = static_cast<std::size_t>(layout.width) * p;
        for (int y = layout.height - 1; y >= 0; --y)
            flipped.insert(flipped.end(), stored.begin() + y * row, stored.begin() + (y + 1) * row);
        stored = flipped;
    }
    int type = layout.type;
    if (type < 0) type = layout.bits == 8 ? (layout.runLength ? 11 : 3) : (layout.runLength ? 10 : 2);
    Bytes file(18, 0);
    file[0] = static_cast<std::uint8_t>(layout.idLength);
    file[1] = layout.mapEntries > 0 ? 1 : 0;
    file[2] = static_cast<std::uint8_t>(type);
    file[5] = static_cast<std::uint8_t>(layout.mapEntries & 0xFF);
    file[6] = static_cast<std::uint8_t>(layout.mapEntries >> 8);
    file[7] = layout.mapEntries > 0 ? static_cast<std::uint8_t>(layout.mapBits) : 0;
    file[12] = static_cast<std::uint8_t>(layout.width & 0xFF);
    file[13] = static_cast<std::uint8_t>(layout.width >> 8);
    file[14] = static_cast<std::uint8_t>(layout.height & 0xFF);
    file[15] = static_cast<std::uint8_t>(layout.height >> 8);
    file[16] = static_cast<std::uint8_t>(layout.bits);
    file[17] = static_cast<std::uint8_t>((layout.topLeft ? 0x20 : 0) | (layout.bits == 32 ? 8 : 0));
    for (int i = 0; i < layout.idLength; ++i) file.push_back(static_cast<std::uint8_t>('A' + i % 26));
    const int mapBytes = layout.mapEntries * ((layout.mapBits + 7) / 8);
    for (int i = 0; i < mapBytes; ++i) file.push_back(static_cast<std::uint8_t>(i * 7));
    const Bytes body = layout.runLength ? EncodeRle(stored, p) : stored;
    file.insert(file.end(), body.begin(), body.end());
    if (layout.footer) {
        file.insert(file.end(), 8, 0);
        const char signature[] = "TRUEVISION-XFILE.";
        file.insert(file.end(), signature, signature + sizeof signature);
    }
    return file;
}

Bytes Cut(Bytes bytes, std::size_t drop) {
    bytes.resize(bytes.size() > drop ? bytes.size() - drop : 0);
    return bytes;
}

// --- Radiance --------------------------------------------------------------

// New-style run-length coding of one plane: runs of 3 or more equal bytes
// (up to 127), literals of up to 128 bytes otherwise.
void EncodePlane(const Bytes& plane, Bytes& out) {
    const std::size_t n = plane.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 127 && plane[i + run] == plane[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<std::uint8_t>(128 + run));
            out.push_back(plane[i]);
            i += run;
            continue;
        }
        std::size_t literal = 0;
        while (i + literal < n && literal < 128) {
            const std::size_t j = i + literal;
            if (j + 2 < n && plane[j] == plane[j + 1] && plane[j] == plane[j + 2]) break;
            ++literal;
        }
        out.push_back(static_cast<std::uint8_t>(literal));
        out.insert(out.end(), plane.begin() + i, plane.begin() + i + literal);
        i += literal;
    }
}

// Radiance picture p: (mantissa, exponent) of pixel i of a width-wide row y.
void RgbePixel(int picture, int width, int x, int y, std::uint8_t& m, std::uint8_t& e) {
    const int i = y * width + x;
    switch (picture) {
        case 0:  // a depth ramp, with flat stretches
            m = static_cast<std::uint8_t>((x / 4) * 9 + y);
            e = 128;
            break;
        case 1:  // literals of 128 and a run ending at the scanline end
            m = x < 128 ? static_cast<std::uint8_t>(x * 2 + 1) : 200;
            e = static_cast<std::uint8_t>(x < 128 ? 128 + (x % 2) : 127);
            break;
        default:  // extreme exponents: tiny, huge and zero mantissas
            m = static_cast<std::uint8_t>(i % 3 == 0 ? 255 : i * 37);
            e = static_cast<std::uint8_t>(i % 4 == 0 ? 255 : (i % 4 == 1 ? 0 : 100 + i));
            break;
    }
}

struct RgbeLayout {
    int width = 9;
    int height = 3;
    bool crlf = false;
    const char* program = "RADIANCE";
    const char* format = "32-bit_rle_rgbe";
    const char* resolution = nullptr;  // default "-Y h +X w"
};

Bytes MakeRgbe(const RgbeLayout& layout, int picture) {
    const std::string end = layout.crlf ? "\r\n" : "\n";
    std::string text = std::string("#?") + layout.program + end + "# made for the fuzzers" + end + "FORMAT=" +
                       layout.format + end + "EXPOSURE=1.0" + end + end;
    text += layout.resolution ? std::string(layout.resolution)
                            : "-Y " + std::to_string(layout.height) + " +X " + std::to_string(layout.width);
    text += end;
    Bytes file(text.begin(), text.end());
    for (int y = 0; y < layout.height; ++y) {
        file.push_back(2);
        file.push_back(2);
        file.push_back(static_cast<std::uint8_t>(layout.width >> 8));
        file.push_back(static_cast<std::uint8_t>(layout.width & 0xFF));
        Bytes planes[4];
        for (int x = 0; x < layout.width; ++x) {
            std::uint8_t m, e;
            RgbePixel(picture, layout.width, x, y, m, e);
            planes[0].push_back(m);
            planes[1].push_back(m);
            planes[2].push_back(m);
            planes[3].push_back(e);
        }
        for (const Bytes& plane : planes) EncodePlane(plane, file);
    }
    return file;
}

// --- Driver inputs -----------------------------------------------------------

Bytes GreyLens(int width, int height) {
    TgaLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bits = 8;
    layout.runLength = true;
    layout.flat = true;
    return MakeTga(layout, 3);
}

Bytes GreyDepth(int width, int height) {
    TgaLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bits = 8;
    return MakeTga(layout, 1);
}

Bytes Colour(int width, int height) {
    TgaLayout layout;
    layout.width = width;
    layout.height = height;
    layout.bits = 32;
    layout.runLength = true;
    return MakeTga(layout, 2);
}

Bytes RgbeDepth(int width, int height, int picture) {
    RgbeLayout layout;
    layout.width = width;
    layout.height = height;
    return MakeRgbe(layout, picture);
}

}  // namespace

std::vector<Seed> TgaSeeds() {
    std::vector<Seed> seeds;
    auto add = [&seeds](const char* name, const TgaLayout& layout, int expect, int picture) {
        seeds.push_back({name, MakeTga(layout, picture), expect, expect ? picture * 100 + layout.bits : -1});
    };
    for (const int bits : {8, 24, 32}) {
        for (const bool runLength : {false, true}) {
            for (const bool topLeft : {false, true}) {
                TgaLayout layout;
                layout.bits = bits;
                layout.runLength = runLength;
                layout.topLeft = topLeft;
                layout.width = 23;
                layout.height = 7;
                std::string label = (bits == 8 ? "grey8" : bits == 24 ? "rgb24" : "rgba32") +
                                    std::string(runLength ? "_rle" : "_raw") + (topLeft ? "_topleft" : "_bottomleft");
                seeds.push_back({label, MakeTga(layout, 1), 1, 100 + bits});
                layout.idLength = 39;
                seeds.push_back({label + "_id39", MakeTga(layout, 1), 1, 100 + bits});
                layout.idLength = 0;
                layout.mapEntries = 3;
                layout.mapBits = bits == 32 ? 32 : 24;
                seeds.push_back({label + "_colourmap", MakeTga(layout, 1), 1, 100 + bits});
                layout.mapEntries = 0;
                layout.footer = true;
                seeds.push_back({label + "_footer", MakeTga(layout, 1), 1, 100 + bits});
            }
        }
    }
    TgaLayout layout;
    layout.width = 200;  // run packets of 128 and raw packets of 128
    layout.height = 3;
    layout.bits = 32;
    layout.runLength = true;
    add("rgba32_rle_long_rows", layout, 1, 2);
    layout.runLength = false;
    add("rgba32_raw_long_rows", layout, 1, 2);

    TgaLayout odd;
    odd.bits = 24;
    odd.type = 3;  // true colour read as uncompressed whatever the type
    add("rgb24_type3", odd, 1, 0);
    odd.type = 2;
    add("rgb24_raw", odd, 1, 0);
    odd.width = 0;
    add("rgb24_width0", odd, 1, 5);
    odd.width = 5;
    odd.bits = 16;
    add("rgb16_refused", odd, 0, 0);
    odd.bits = 8;
    odd.type = 1;  // colour-mapped grey is refused
    odd.mapEntries = 4;
    add("grey8_type1_refused", odd, 0, 0);

    TgaLayout full;
    full.bits = 32;
    full.runLength = true;
    seeds.push_back({"rgba32_rle_truncated", Cut(MakeTga(full, 4), 3), 0, -1});
    full.runLength = false;
    seeds.push_back({"rgba32_raw_truncated", Cut(MakeTga(full, 4), 1), 0, -1});
    full.idLength = 200;
    seeds.push_back({"rgba32_id_past_end", Cut(MakeTga(full, 4), 4 * 5 * 4 + 100), 0, -1});
    seeds.push_back({"header_only", Cut(MakeTga(TgaLayout(), 0), 5 * 4 * 3), 0, -1});
    seeds.push_back({"short_header", Cut(MakeTga(TgaLayout(), 0), 5 * 4 * 3 + 1), 0, -1});
    Bytes huge = MakeTga(TgaLayout(), 0);
    huge[12] = huge[13] = huge[14] = huge[15] = 0xFF;
    seeds.push_back({"huge_header_small_file", huge, 0, -1});
    return seeds;
}

std::vector<Seed> RgbeSeeds() {
    std::vector<Seed> seeds;
    auto add = [&seeds](const std::string& name, const RgbeLayout& layout, int picture, int expect) {
        const int id = picture * 1000000 + layout.width * 1000 + layout.height;
        seeds.push_back({name, MakeRgbe(layout, picture), expect, expect ? id : -1});
    };
    RgbeLayout plain;
    add("ramp_lf", plain, 0, 1);
    RgbeLayout crlf;
    crlf.crlf = true;
    add("ramp_crlf", crlf, 0, 1);
    RgbeLayout wide;
    wide.width = 300;  // literals of 128 and runs that end at the scanline end
    wide.height = 2;
    add("literal128_run_to_end", wide, 1, 1);
    RgbeLayout extreme;
    extreme.width = 17;
    extreme.height = 5;
    add("extreme_exponents", extreme, 2, 1);
    RgbeLayout one;
    one.width = one.height = 1;
    add("one_pixel", one, 2, 1);

    RgbeLayout program = plain;
    program.program = "RGBE";
    add("program_rgbe_refused", program, 0, 0);
    RgbeLayout format = plain;
    format.format = "32-bit_rle_xyze";
    add("format_xyze_refused", format, 0, 0);
    RgbeLayout xFirst = plain;
    xFirst.resolution = "+X 9 -Y 3";
    add("x_before_y_refused", xFirst, 0, 0);
    RgbeLayout bottomUp = plain;
    bottomUp.resolution = "+Y 3 +X 9";
    add("plus_y", bottomUp, 0, 1);
    const std::string longText(64, 'R');
    RgbeLayout longProgram = plain;
    longProgram.program = longText.c_str();
    add("program_over_63_refused", longProgram, 0, 0);

    seeds.push_back({"truncated_scanline", Cut(MakeRgbe(plain, 0), 3), 0, -1});
    RgbeLayout headerOnly = plain;
    headerOnly.resolution = "-Y 3 +X 9";
    headerOnly.height = 0;  // no scanline follows
    add("header_only", headerOnly, 0, 0);
    Bytes overrun = MakeRgbe(one, 2);  // a run of 2 in a scanline of 1
    overrun[overrun.size() - 8] = 130;
    seeds.push_back({"run_past_scanline_end", overrun, 0, -1});
    RgbeLayout huge = plain;
    huge.resolution = "-Y 3 +X 2000000000";
    add("huge_width_refused", huge, 0, 0);
    return seeds;
}

std::vector<double> RgbeSeedMeans(int id) {
    const int picture = id / 1000000;
    const int width = id / 1000 % 1000;
    const int height = id % 1000;
    std::vector<double> means;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t m, e;
            RgbePixel(picture, width, x, y, m, e);
            const double v = std::ldexp(m / 255.0, e - 128);
            means.push_back(((v + v) + v) / 3.0);
        }
    }
    return means;
}

std::vector<Seed> SetupSeeds() {
    std::vector<Seed> seeds;
    const Bytes lens = GreyLens(256, 256);
    auto add = [&seeds](const char* name, const char* arguments, const Bytes& depth, const Bytes& colour,
                        const Bytes& lens, SetupStatus expect) {
        seeds.push_back({name, SetupInput(arguments, depth, colour, lens), static_cast<int>(expect), -1});
    };
    add("ready_tga_depth", "-s 4 -c 0.5", GreyDepth(7, 5), Colour(7, 5), lens, SetupStatus::kReady);
    add("ready_reversed", "-s 3 -r -k 1.1", GreyDepth(7, 5), Colour(7, 5), lens, SetupStatus::kReady);
    add("ready_rgbe_depth", "-s 2 -c 0.3 -n 0.1 -f 4", RgbeDepth(9, 3, 0), Colour(9, 3), lens, SetupStatus::kReady);
    add("ready_huge_depths", "-s 1 -c 1e300 -n -1e300 -f 1e300", RgbeDepth(17, 5, 2), Colour(17, 5), lens,
        SetupStatus::kReady);
    add("ready_flat_focus_zero", "-s 2 -c 0 -n 0 -f 0", GreyDepth(7, 5), Colour(7, 5), lens, SetupStatus::kReady);
    add("ready_1x1", "-s 16", GreyDepth(1, 1), Colour(1, 1), lens, SetupStatus::kReady);
    add("depth_size", "-s 4", GreyDepth(6, 5), Colour(7, 5), lens, SetupStatus::kDepthSize);
    add("lens_size", "-s 4", GreyDepth(7, 5), Colour(7, 5), GreyLens(255, 256), SetupStatus::kLensSize);
    add("load_failed", "-s 4", Bytes{1, 2, 3}, Colour(7, 5), lens, SetupStatus::kLoadFailed);
    add("blur_too_large", "-s 5000", GreyDepth(7, 5), Colour(7, 5), lens, SetupStatus::kBlurTooLarge);
    add("colour_too_large", "-s 4", GreyDepth(7, 5), GreyLens(1000, 1000), lens, SetupStatus::kImageTooLarge);
    add("bad_parameter", "-k 0", GreyDepth(7, 5), Colour(7, 5), lens, static_cast<SetupStatus>(-1));
    return seeds;
}
