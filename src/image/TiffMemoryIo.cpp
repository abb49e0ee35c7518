// libtiff's client procedures over memory. They run inside libtiff, so no
// C++ exception may leave them: an allocation that fails becomes a failed
// write, which libtiff reports as an error.
#include "image/TiffMemoryIo.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kFileName = "TIFF in memory";

int KeepFirstError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (!messages->failed) {
        std::vsnprintf(messages->firstError, sizeof messages->firstError, format, arguments);
        messages->failed = true;
        // Messages about the file start with its name, which says nothing here.
        char* text = messages->firstError;
        const std::size_t name = std::strlen(kFileName);
        if (std::strncmp(text, kFileName, name) == 0 && std::strncmp(text + name, ": ", 2) == 0)
            std::memmove(text, text + name + 2, std::strlen(text + name + 2) + 1);
    }
    return 1;  // handled: libtiff's global handlers (which print) are not called
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The position whence and offset lead to, or false when it is negative or
// beyond what an offset holds. libtiff passes backward offsets wrapped.
bool Seek(std::uint64_t at, std::uint64_t end, toff_t offset, int whence, std::uint64_t& to) {
    std::uint64_t base = 0;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = at; break;
        case SEEK_END: base = end; break;
        default: return false;
    }
    const std::uint64_t most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (base > most) return false;
    if (whence == SEEK_SET || static_cast<std::int64_t>(offset) >= 0) {
        if (offset > most - base) return false;
        to = base + offset;
    } else {
        const std::uint64_t back = 0 - offset;
        if (back > base) return false;
        to = base - back;
    }
    return true;
}

tmsize_t ReadSource(thandle_t handle, void* buffer, tmsize_t count) {
    auto* source = static_cast<TiffSource*>(handle);
    if (count < 0) return -1;
    const std::uint64_t left = source->at < source->size ? source->size - source->at : 0;
    const std::uint64_t taken = static_cast<std::uint64_t>(count) < left ? static_cast<std::uint64_t>(count) : left;
    if (taken > 0) std::memcpy(buffer, source->data + source->at, static_cast<std::size_t>(taken));
    source->at += taken;
    return static_cast<tmsize_t>(taken);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekSource(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<TiffSource*>(handle);
    std::uint64_t to = 0;
    if (!Seek(source->at, source->size, offset, whence, to)) return static_cast<toff_t>(-1);
    source->at = to;
    return to;
}

toff_t SourceSize(thandle_t handle) { return static_cast<TiffSource*>(handle)->size; }

tmsize_t ReadSink(thandle_t handle, void* buffer, tmsize_t count) {
    auto* sink = static_cast<TiffSink*>(handle);
    TiffSource source{sink->bytes->data(), sink->bytes->size(), sink->at};
    const tmsize_t read = ReadSource(&source, buffer, count);
    sink->at = source.at;
    return read;
}

tmsize_t WriteSink(thandle_t handle, void* buffer, tmsize_t count) {
    auto* sink = static_cast<TiffSink*>(handle);
    if (count < 0 || sink->outOfMemory) return -1;
    const auto length = static_cast<std::uint64_t>(count);
    if (sink->at > std::numeric_limits<std::size_t>::max() - length) return -1;
    const auto end = static_cast<std::size_t>(sink->at + length);
    try {
        if (end > sink->bytes->size()) sink->bytes->resize(end);
    } catch (...) {
        sink->outOfMemory = true;
        return -1;
    }
    if (length > 0) std::memcpy(sink->bytes->data() + sink->at, buffer, static_cast<std::size_t>(length));
    sink->at = end;
    return count;
}

toff_t SeekSink(thandle_t handle, toff_t offset, int whence) {
    auto* sink = static_cast<TiffSink*>(handle);
    std::uint64_t to = 0;
    if (!Seek(sink->at, sink->bytes->size(), offset, whence, to)) return static_cast<toff_t>(-1);
    sink->at = to;
    return to;
}

toff_t SinkSize(thandle_t handle) { return static_cast<TiffSink*>(handle)->bytes->size(); }

int CloseNothing(thandle_t) { return 0; }

int MapNothing(thandle_t, void**, toff_t*) { return 0; }

void UnmapNothing(thandle_t, void*, toff_t) {}

TiffHandle Open(const char* mode, thandle_t handle, TIFFReadWriteProc read, TIFFReadWriteProc write,
                TIFFSeekProc seek, TIFFSizeProc size, std::size_t maxAllocation, TiffMessages& messages) {
    struct OptionsFree {
        void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
    };
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        std::snprintf(messages.firstError, sizeof messages.firstError, "out of memory");
        messages.failed = true;
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), KeepFirstError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), DropWarning, nullptr);
    if (maxAllocation > 0) {
        const auto most = static_cast<std::size_t>(std::numeric_limits<tmsize_t>::max());
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                            static_cast<tmsize_t>(maxAllocation < most ? maxAllocation : most));
    }
    TiffHandle tiff(TIFFClientOpenExt(kFileName, mode, handle, read, write, seek, CloseNothing, size, MapNothing,
                                      UnmapNothing, options.get()));
    if (!tiff && !messages.failed) {
        std::snprintf(messages.firstError, sizeof messages.firstError, "not a TIFF file");
        messages.failed = true;
    }
    return tiff;
}

}  // namespace

TiffHandle OpenTiffReader(TiffSource& source, std::size_t maxAllocation, TiffMessages& messages) {
    // "m": read through ReadSource, never from a mapping.
    return Open("rm", &source, ReadSource, WriteNothing, SeekSource, SourceSize, maxAllocation, messages);
}

TiffHandle OpenTiffWriter(TiffSink& sink, const char* mode, TiffMessages& messages) {
    return Open(mode, &sink, ReadSink, WriteSink, SeekSink, SinkSize, 0, messages);
}
