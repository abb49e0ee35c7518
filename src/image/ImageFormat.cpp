#include "image/ImageFormat.h"

#include <cstring>

namespace {

bool StartsWith(const unsigned char* head, std::size_t headSize, const char* magic, std::size_t length) {
    return headSize >= length && std::memcmp(head, magic, length) == 0;
}

std::string LowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

}  // namespace

FileFormat SniffFormat(const unsigned char* head, std::size_t headSize) {
    if (StartsWith(head, headSize, "\x89PNG\r\n\x1a\n", 8)) return FileFormat::kPng;
    // Classic and big TIFF, either byte order.
    if (StartsWith(head, headSize, "II*\0", 4) || StartsWith(head, headSize, "MM\0*", 4) ||
        StartsWith(head, headSize, "II+\0", 4) || StartsWith(head, headSize, "MM\0+", 4))
        return FileFormat::kTiff;
    if (StartsWith(head, headSize, "\x76\x2f\x31\x01", 4)) return FileFormat::kOpenExr;
    if (StartsWith(head, headSize, "#?", 2)) return FileFormat::kRadiance;
    return FileFormat::kTga;
}

FileFormat FormatForPath(const std::string& path) {
    const std::string extension = LowerExtension(path);
    if (extension == "png") return FileFormat::kPng;
    if (extension == "tif" || extension == "tiff") return FileFormat::kTiff;
    if (extension == "exr") return FileFormat::kOpenExr;
    return FileFormat::kTga;
}

const char* FormatName(FileFormat format) {
    switch (format) {
        case FileFormat::kTga: return "TGA";
        case FileFormat::kRadiance: return "Radiance";
        case FileFormat::kPng: return "PNG";
        case FileFormat::kTiff: return "TIFF";
        case FileFormat::kOpenExr: return "OpenEXR";
    }
    return "";
}
