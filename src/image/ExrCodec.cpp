// OpenEXR through the OpenEXR library. The headers are read by hand first
// (ExrHeader, ExrLayout): the picture's size goes to limits.accept and the
// library is given only files whose tables and chunks it can hold. Then the
// library reads the chosen channels straight into the picture (ExrReader),
// on its own threads. Every exception but std::bad_alloc stays in here and
// becomes a reason.
#include <ImfHeader.h>
#include <ImfThreading.h>

#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <thread>

#include "image/Codecs.h"
#include "image/ExrChannelChoice.h"
#include "image/ExrHeader.h"
#include "image/ExrLayout.h"
#include "image/ExrReader.h"
#include "image/ExrStreams.h"
#include "image/ExrWriter.h"
#include "image/PictureLimits.h"

namespace {

// The library's limits and threads, set once for the process.
void PrepareLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        Imf::Header::setMaxImageSize(static_cast<int>(kMaxPictureSide), static_cast<int>(kMaxPictureSide));
        Imf::Header::setMaxTileSize(kMaxExrTileSide, kMaxExrTileSide);
        const unsigned processors = std::thread::hardware_concurrency();
        Imf::setGlobalThreadCount(processors > 1 ? static_cast<int>(processors) : 0);
    });
}

// Runs body, the library's reading, turning its exceptions into a reason;
// memory running out is not the file's fault and goes on up, as elsewhere.
template <class Body>
bool Guarded(std::string& reason, Body body) {
    try {
        PrepareLibrary();
        return body();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        reason = e.what();
        if (reason.empty()) reason = "the OpenEXR library could not read the file";
    } catch (...) {
        reason = "the OpenEXR library could not read the file";
    }
    return false;
}

// The headers, read and judged: false (with result set) when the file is
// refused, by its size among other things.
bool ReadJudgedHeaders(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                       ExrHeaders& headers, DecodeResult& result) {
    const ExrHeaderStatus status = ReadExrHeaders(data, size, false, headers, result.reason);
    if (status != ExrHeaderStatus::kRead) {
        if (status == ExrHeaderStatus::kCut) result.reason = "the file ends inside its header";
        return false;
    }
    int width = 0;
    int height = 0;
    const ExrPart& first = headers.parts.front();
    if (first.hasDisplayWindow && BoxSize(first.displayWindow, width, height)) {
        result.width = width;
        result.height = height;
        if (limits.accept && !limits.accept(width, height)) {
            result.status = DecodeStatus::kTooLarge;
            return false;
        }
    }
    return CheckExrLayout(headers, size, result.reason);
}

enum class Wanted { kColour, kDepth };

DecodeResult DecodeExr(const unsigned char* data, std::size_t size, Wanted wanted, const std::string& name,
                       const DecodeLimits& limits, dof::Image& image) {
    DecodeResult result;
    ExrHeaders headers;
    if (!ReadJudgedHeaders(data, size, limits, headers, result)) return result;
    ExrChoice choice;
    const bool chosen = wanted == Wanted::kDepth ? ChooseExrDepth(headers, name, choice, result.reason)
                                                 : ChooseExrColour(headers, name, choice, result.reason);
    if (!chosen) return result;
    // Depth outside the data window is far away; colour there is black.
    const float fill = wanted == Wanted::kDepth ? std::numeric_limits<float>::infinity() : 0.0f;
    if (Guarded(result.reason, [&] { return ReadExrPixels(data, size, headers, choice, fill, image, result.reason); }))
        result.status = DecodeStatus::kDecoded;
    return result;
}

}  // namespace

PeekedSize PeekExr(const unsigned char* head, std::size_t headSize) {
    PeekedSize peeked;
    ExrHeaders headers;
    std::string reason;
    if (ReadExrHeaders(head, headSize, true, headers, reason) != ExrHeaderStatus::kRead) return peeked;
    const ExrPart& first = headers.parts.front();
    peeked.sized = first.hasDisplayWindow && BoxSize(first.displayWindow, peeked.width, peeked.height);
    return peeked;
}

DecodeResult DecodeExrColour(const unsigned char* data, std::size_t size, const std::string& layer,
                             const DecodeLimits& limits, dof::Image& image) {
    return DecodeExr(data, size, Wanted::kColour, layer, limits, image);
}

DecodeResult DecodeExrDepth(const unsigned char* data, std::size_t size, const std::string& channel,
                            const DecodeLimits& limits, dof::Image& image) {
    return DecodeExr(data, size, Wanted::kDepth, channel, limits, image);
}

DecodePair DecodeExrColourAndDepth(const unsigned char* data, std::size_t size, const std::string& layer,
                                   const std::string& channel, const DecodeLimits& limits, dof::Image& colour,
                                   dof::Image& depth) {
    DecodePair pair;
    ExrHeaders headers;
    if (!ReadJudgedHeaders(data, size, limits, headers, pair.colour)) {
        pair.depth = pair.colour;
        return pair;
    }
    pair.depth.width = pair.colour.width;
    pair.depth.height = pair.colour.height;
    ExrChoice colourChoice, depthChoice;
    const bool colourChosen = ChooseExrColour(headers, layer, colourChoice, pair.colour.reason);
    const bool depthChosen = ChooseExrDepth(headers, channel, depthChoice, pair.depth.reason);
    if (colourChosen && depthChosen) {
        std::string reason;
        const bool read = Guarded(reason, [&] {
            return ReadExrColourAndDepth(data, size, headers, colourChoice, depthChoice, colour, depth, reason);
        });
        pair.colour.reason = pair.depth.reason = reason;
        pair.colour.status = pair.depth.status = read ? DecodeStatus::kDecoded : DecodeStatus::kFailed;
        return pair;
    }
    // One of them only: read it alone.
    if (colourChosen) pair.colour = DecodeExr(data, size, Wanted::kColour, layer, limits, colour);
    if (depthChosen) pair.depth = DecodeExr(data, size, Wanted::kDepth, channel, limits, depth);
    return pair;
}

bool EncodeExr(const dof::ImageView& image, bool half, std::vector<unsigned char>& file, std::string& reason) {
    if (image.Type() != dof::SampleType::kFloat32 || image.Channels() < 1 || image.Channels() > 4 || image.Empty() ||
        !image.Data()) {
        reason = "an OpenEXR file is written from 32-bit float samples of 1 to 4 channels and at least one pixel";
        return false;
    }
    try {
        PrepareLibrary();
        file.clear();
        ExrMemoryOutput stream(file);
        WriteExrPixels(image, half, stream);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        reason = e.what();
        file.clear();
        return false;
    } catch (...) {
        reason = "the OpenEXR library could not write the file";
        file.clear();
        return false;
    }
    return true;
}
