#include <exception>
#include <new>
#include <string>
#include <vector>

#include <dof/Files.h>

#include "api/Decode.h"
#include "api/ExactRun.h"
#include "api/Guarded.h"
#include "image/Conversions.h"
#include "image/Codecs.h"
#include "image/FileIo.h"
#include "image/ImageFormat.h"
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

dof::Result<dof::Image> Read(const std::string& path, bool isDepth, const dof::ReadOptions& options) {
    return Guarded([&]() -> dof::Result<dof::Image> {
        const double limit = EffectiveMemoryLimit(options.memoryLimit);
        FileBytes file;
        if (dof::Error error = ReadChecked(path, isDepth, limit, file)) return error;
        return isDepth ? DecodeDepthFile(file.data, file.size, path, limit, options)
                       : DecodeImageFile(file.data, file.size, path, limit, options);
    });
}

}  // namespace

namespace dof {

Result<Image> ReadImage(const std::string& path, const ReadOptions& options) { return Read(path, false, options); }

Result<Image> ReadDepth(const std::string& path, const ReadOptions& options) { return Read(path, true, options); }

ImageAndDepth ReadImageAndDepth(const std::string& path, const ReadOptions& options) {
    ImageAndDepth both;
    const Error failure = Guarded([&]() -> Error {
        const double limit = EffectiveMemoryLimit(options.memoryLimit);
        FileBytes file;
        if (Error error = ReadChecked(path, true, limit, file)) return error;
        both = DecodeImageAndDepthFile(file.data, file.size, path, limit, options);
        return {};
    });
    if (failure) both.colour = both.depth = failure;
    return both;
}

bool TakesBitDepth(const std::string& path, int bitDepth) {
    switch (FormatForPath(path)) {
        case FileFormat::kPng: return bitDepth == 0 || bitDepth == 8 || bitDepth == 16;
        case FileFormat::kTiff: return bitDepth == 0 || bitDepth == 8 || bitDepth == 16 || bitDepth == 32;
        case FileFormat::kOpenExr: return bitDepth == 0 || bitDepth == 16 || bitDepth == 32;
        case FileFormat::kTga:
        case FileFormat::kRadiance: break;
    }
    return bitDepth == 0 || bitDepth == 8;
}

Error WriteImage(const std::string& path, const ImageView& image, const WriteOptions& options) {
    return Guarded([&]() -> Error {
        if (Error bad = CheckImage(image, "the picture")) return bad;
        const FileFormat format = FormatForPath(path);
        if (!TakesBitDepth(path, options.bitDepth))
            return {ErrorCode::kInvalidImage, std::string(FormatName(format)) + " files do not take " +
                                                  std::to_string(options.bitDepth) + "-bit samples"};
        // The samples the file holds, converted where the picture has others.
        const int bits = options.bitDepth != 0 ? options.bitDepth : format == FileFormat::kOpenExr ? 16 : 8;
        const SampleType type = format == FileFormat::kOpenExr || bits == 32 ? SampleType::kFloat32
                                : bits == 16                                 ? SampleType::kUInt16
                                                                             : SampleType::kUInt8;
        const Image converted = image.Type() == type ? Image() : ConvertSamples(image, type);
        const ImageView samples = image.Type() == type ? image : converted.View();
        std::string reason;
        bool made = false;
        std::vector<unsigned char> encoded;
        switch (format) {
            case FileFormat::kPng: made = EncodePng(samples, encoded, reason); break;
            case FileFormat::kTiff: made = EncodeTiff(samples, encoded, reason); break;
            case FileFormat::kOpenExr: made = EncodeExr(samples, bits == 16, encoded, reason); break;
            case FileFormat::kTga:
            case FileFormat::kRadiance:
                // Encoded as it is written, in pieces.
                if (!CTGAImage::Encodes(samples))
                    return {ErrorCode::kWriteFailed, path + ": a TGA file holds at most 65535x65535 pixels"};
                if (!WriteFileAtomically(path, [&](const ByteWriter& write) { return CTGAImage::Write(samples, write); },
                                         &reason))
                    return {ErrorCode::kWriteFailed, path + ": " + reason};
                return {};
        }
        if (!made || !WriteFileAtomically(path, encoded.data(), encoded.size(), &reason))
            return {ErrorCode::kWriteFailed, path + ": " + reason};
        return {};
    });
}

}  // namespace dof
