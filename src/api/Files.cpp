#include <exception>
#include <new>
#include <string>

#include <dof/Files.h>

#include "api/Decode.h"
#include "api/ExactRun.h"
#include "image/Conversions.h"
#include "image/FileIo.h"
#include "image/TgaWriter.h"

namespace {

// A whole file, unless its header shows a picture too large for the limit.
struct FileBytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

dof::Error ReadChecked(const std::string& path, bool isDepth, double limit, FileBytes& file) {
    InputNeed refused;
    const HeadCheck check = [&](const unsigned char* head, std::size_t headSize, std::size_t fileSize) {
        const InputNeed need = InputMemory(head, headSize, fileSize, isDepth);
        if (need.bytes <= limit) return true;
        refused = need;
        return false;
    };
    std::string reason;
    switch (ReadWholeFile(path, file.data, file.size, check, &reason)) {
        case ReadResult::kRefused: return TooLarge(path, refused, limit);
        case ReadResult::kUnreadable: return {dof::ErrorCode::kReadFailed, path + ": " + reason};
        case ReadResult::kRead: break;
    }
    return {};
}

// The calls below turn any failure into an error value.
template <class Body>
auto Guarded(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc& e) {
        return dof::Error(dof::ErrorCode::kOutOfMemory, e.what());
    } catch (const std::exception& e) {
        return dof::Error(dof::ErrorCode::kInternal, e.what());
    }
}

dof::Result<dof::Image> Read(const std::string& path, bool isDepth, const dof::ReadOptions& options) {
    return Guarded([&]() -> dof::Result<dof::Image> {
        const double limit = EffectiveMemoryLimit(options.memoryLimit);
        FileBytes file;
        if (dof::Error error = ReadChecked(path, isDepth, limit, file)) return error;
        return isDepth ? DecodeDepthFile(file.data, file.size, path, limit)
                       : DecodeImageFile(file.data, file.size, path, limit);
    });
}

}  // namespace

namespace dof {

Result<Image> ReadImage(const std::string& path, const ReadOptions& options) { return Read(path, false, options); }

Result<Image> ReadDepth(const std::string& path, const ReadOptions& options) { return Read(path, true, options); }

Error WriteImage(const std::string& path, const ImageView& image) {
    return Guarded([&]() -> Error {
        if (Error bad = CheckImage(image, "the picture")) return bad;
        if (image.Type() != SampleType::kUInt8)
            return {ErrorCode::kInvalidImage, "a TGA file holds 8-bit samples only"};
        CTGAImage file;
        if (!file.Encode(image))
            return {ErrorCode::kWriteFailed, path + ": a TGA file holds at most 65535x65535 pixels"};
        std::string reason;
        if (!WriteFileAtomically(path, file.fileBytes.data(), file.fileSize, &reason))
            return {ErrorCode::kWriteFailed, path + ": " + reason};
        return {};
    });
}

}  // namespace dof
