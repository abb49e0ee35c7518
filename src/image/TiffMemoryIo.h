#pragma once
// libtiff over memory: a file held in a buffer to read, a growable buffer to
// write, and the messages of each open kept for the caller instead of being
// printed.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The first error libtiff reported on one open file; warnings are dropped.
struct TiffMessages {
    char firstError[256] = {};
    bool failed = false;
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// A whole file in memory; reads stop at its end.
struct TiffSource {
    const unsigned char* data;
    std::size_t size;
    std::uint64_t at = 0;
};

// A file being written; bytes may be written anywhere, the gap before them
// filled with zeros.
struct TiffSink {
    std::vector<unsigned char>* bytes;
    std::uint64_t at = 0;
    bool outOfMemory = false;
};

// Opens source for reading without mapping it; libtiff then allocates no
// single block above maxAllocation bytes. Null on failure, with the reason
// in messages. source and messages must outlive the handle.
TiffHandle OpenTiffReader(TiffSource& source, std::size_t maxAllocation, TiffMessages& messages);

// Opens sink for writing with TIFFOpen's mode ("w", "wb", "w8", ...).
TiffHandle OpenTiffWriter(TiffSink& sink, const char* mode, TiffMessages& messages);
