#pragma once
#include <cstddef>
#include <string>

// The formats of picture files.
enum class FileFormat { kTga, kRadiance, kPng, kTiff, kOpenExr };

// A file's format from its first bytes (magic numbers); TGA, which has
// none, for anything else.
FileFormat SniffFormat(const unsigned char* head, std::size_t headSize);

// The format a file is written in, from its name's extension (any case):
// .png, .tif or .tiff, .exr; TGA for any other name.
FileFormat FormatForPath(const std::string& path);

// "TGA", "PNG", ...
const char* FormatName(FileFormat format);
