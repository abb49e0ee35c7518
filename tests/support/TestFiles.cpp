#include "support/TestFiles.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testfiles {

Picture Picture::Filled(int width, int height, unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
    Picture p;
    p.width = width;
    p.height = height;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    p.rgba.reserve(count * 4);
    for (std::size_t i = 0; i < count; ++i) p.rgba.insert(p.rgba.end(), {r, g, b, a});
    return p;
}

Picture Picture::Pattern(int width, int height, unsigned seed, bool opaque) {
    Picture p = Filled(width, height, 0, 0, 0, 255);
    std::uint32_t state = seed * 2654435761u + 12345u;
    auto next = [&state] {  // xorshift32
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::size_t i = 0;
    while (i < count) {
        // Alternate stretches: one colour repeated (now and then up to 300
        // pixels, so runs are cut at 128) or a new colour for every pixel.
        const bool repeated = next() % 2 == 0;
        const std::size_t longest = repeated ? (next() % 4 == 0 ? 300 : 12) : 40;
        const std::size_t length = std::min<std::size_t>(count - i, 1 + next() % longest);
        unsigned char colour[4] = {};
        for (std::size_t k = 0; k < length; ++k, ++i) {
            if (k == 0 || !repeated) {
                const unsigned v = next();
                colour[0] = static_cast<unsigned char>(v);
                colour[1] = static_cast<unsigned char>(v >> 8);
                colour[2] = static_cast<unsigned char>(v >> 16);
                colour[3] = opaque ? 255 : static_cast<unsigned char>(next());
            }
            std::memcpy(&p.rgba[i * 4], colour, 4);
        }
    }
    return p;
}

Picture Picture::Disc(int size, double radius) {
    Picture p = Filled(size, size, 0, 0, 0, 255);
    const double centre = (size - 1) / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (std::hypot(x - centre, y - centre) <= radius) std::memset(p.At(x, y), 255, 3);
    return p;
}

Picture Picture::AsGrey() const {
    Picture p = *this;
    for (std::size_t i = 0; i < p.rgba.size(); i += 4) {
        p.rgba[i + 1] = p.rgba[i];
        p.rgba[i + 2] = p.rgba[i];
        p.rgba[i + 3] = 255;
    }
    return p;
}

Bytes EncodeTgaRle(const Bytes& pixels, int bytesPerPixel) {
    const std::size_t n = pixels.size() / static_cast<std::size_t>(bytesPerPixel);
    auto same = [&](std::size_t a, std::size_t b) {
        return std::memcmp(&pixels[a * bytesPerPixel], &pixels[b * bytesPerPixel], bytesPerPixel) == 0;
    };
    Bytes out;
    std::size_t i = 0;
    while (i < n) {
        std::size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
            out.insert(out.end(), pixels.begin() + i * bytesPerPixel, pixels.begin() + (i + 1) * bytesPerPixel);
            i += run;
            continue;
        }
        std::size_t end = i + 1;
        while (end < n && end - i < 128 && !(end + 1 < n && same(end, end + 1))) ++end;
        out.push_back(static_cast<unsigned char>(end - i - 1));
        out.insert(out.end(), pixels.begin() + i * bytesPerPixel, pixels.begin() + end * bytesPerPixel);
        i = end;
    }
    return out;
}

Bytes MakeTga(const Picture& picture, const TgaLayout& layout) {
    const int bpp = layout.bitsPerPixel / 8;
    Bytes file(18, 0);
    file[0] = static_cast<unsigned char>(layout.imageId.size());
    const bool grey = layout.bitsPerPixel == 8;
    int type = grey ? (layout.runLength ? 11 : 3) : (layout.runLength ? 10 : 2);
    if (layout.imageTypeOverride >= 0) type = layout.imageTypeOverride;
    file[2] = static_cast<unsigned char>(type);
    if (layout.colourMapEntries > 0) {
        file[1] = 1;
        file[5] = static_cast<unsigned char>(layout.colourMapEntries & 0xff);
        file[6] = static_cast<unsigned char>(layout.colourMapEntries >> 8);
        file[7] = static_cast<unsigned char>(layout.colourMapEntryBits);
    }
    file[12] = static_cast<unsigned char>(picture.width & 0xff);
    file[13] = static_cast<unsigned char>(picture.width >> 8);
    file[14] = static_cast<unsigned char>(picture.height & 0xff);
    file[15] = static_cast<unsigned char>(picture.height >> 8);
    file[16] = static_cast<unsigned char>(layout.bitsPerPixel);
    file[17] = static_cast<unsigned char>((layout.bitsPerPixel == 32 ? 8 : 0) | (layout.topLeft ? 0x20 : 0));
    for (char c : layout.imageId) file.push_back(static_cast<unsigned char>(c));
    // Colour-map entries that would show as wrong pixels if read as pixels.
    const std::size_t mapBytes =
        static_cast<std::size_t>(layout.colourMapEntries) * static_cast<std::size_t>((layout.colourMapEntryBits + 7) / 8);
    for (std::size_t k = 0; k < mapBytes; ++k) file.push_back(static_cast<unsigned char>(0xA5 ^ k));

    Bytes pixels;
    pixels.reserve(static_cast<std::size_t>(picture.width) * picture.height * bpp);
    for (int row = 0; row < picture.height; ++row) {
        const int y = layout.topLeft ? row : picture.height - 1 - row;
        for (int x = 0; x < picture.width; ++x) {
            const unsigned char* s = picture.At(x, y);
            if (grey) {
                pixels.push_back(s[0]);
            } else {
                pixels.insert(pixels.end(), {s[2], s[1], s[0]});
                if (bpp == 4) pixels.push_back(s[3]);
            }
        }
    }
    if (layout.runLength) pixels = EncodeTgaRle(pixels, bpp);
    file.insert(file.end(), pixels.begin(), pixels.end());
    if (layout.footer) {
        file.insert(file.end(), 8, 0);
        const char signature[] = "TRUEVISION-XFILE.";
        file.insert(file.end(), signature, signature + sizeof signature);  // with its terminating zero
    }
    return file;
}

namespace {

void AppendPlane(Bytes& out, const Bytes& plane) {
    const std::size_t n = plane.size();
    auto runAt = [&](std::size_t i) {
        std::size_t run = 1;
        while (i + run < n && run < 127 && plane[i + run] == plane[i]) ++run;
        return run;
    };
    std::size_t i = 0;
    while (i < n) {
        const std::size_t run = runAt(i);
        if (run >= 3) {
            out.push_back(static_cast<unsigned char>(128 + run));
            out.push_back(plane[i]);
            i += run;
            continue;
        }
        std::size_t end = i + 1;
        while (end < n && end - i < 128 && runAt(end) < 3) ++end;
        out.push_back(static_cast<unsigned char>(end - i));
        out.insert(out.end(), plane.begin() + i, plane.begin() + end);
        i = end;
    }
}

}  // namespace

Bytes EncodeRgbeScanline(const unsigned char* rgbe, int length) {
    Bytes out = {2, 2, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length & 0xff)};
    for (int c = 0; c < 4; ++c) {
        Bytes plane(static_cast<std::size_t>(length));
        for (int x = 0; x < length; ++x) plane[x] = rgbe[4 * x + c];
        AppendPlane(out, plane);
    }
    return out;
}

Bytes RgbeHeader(int width, int height, const RgbeLayout& layout) {
    const std::string eol = layout.crlf ? "\r\n" : "\n";
    std::string text = "#?" + layout.programType + eol;
    for (const std::string& line : layout.extraLines) text += line + eol;
    text += "FORMAT=" + layout.format + eol + eol;
    text += layout.resolution.empty() ? "-Y " + std::to_string(height) + " +X " + std::to_string(width)
                                      : layout.resolution;
    text += "\n";
    return Bytes(text.begin(), text.end());
}

Bytes MakeRgbe(int width, int height, const Bytes& rgbe, const RgbeLayout& layout) {
    Bytes file = RgbeHeader(width, height, layout);
    for (int k = 0; k < height; ++k) {
        const Bytes line = EncodeRgbeScanline(&rgbe[static_cast<std::size_t>(k) * width * 4], width);
        file.insert(file.end(), line.begin(), line.end());
    }
    return file;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> ListDirectory(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "doftest.XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RunResult RunBinary(const std::string& binary, const std::vector<std::string>& args, const std::string& workDir,
                    long fileSizeLimit) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> argvText = {binary};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (::chdir(workDir.c_str()) != 0) ::_exit(126);
        if (fileSizeLimit >= 0) {
            // A write past the limit then fails with EFBIG instead of killing the program.
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(fileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    RunResult result;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.output, &result.errors};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
    return result;
}

}  // namespace testfiles
