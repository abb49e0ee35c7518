#include "fuzz/HostileFiles.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

ScratchDirectory::ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/dof-hostile-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name.data();
}

ScratchDirectory::~ScratchDirectory() {
    for (const std::string& name : Files()) ::unlink((*this / name).c_str());
    ::rmdir(path_.c_str());
}

std::vector<std::string> ScratchDirectory::Files() const {
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(path_.c_str())) {
        while (const dirent* entry = ::readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw std::runtime_error("cannot write " + path);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

Bytes TgaHeader(int width, int height, int bits, int type) {
    Bytes header(18, 0);
    header[2] = static_cast<std::uint8_t>(type);
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = static_cast<std::uint8_t>(bits);
    return header;
}

Bytes GreyTga(int width, int height, std::uint8_t value) {
    Bytes file = TgaHeader(width, height, 8, 3);
    file.resize(file.size() + static_cast<std::size_t>(width) * height, value);
    return file;
}

Bytes ColourTga(int width, int height) {
    Bytes file = TgaHeader(width, height, 24, 2);
    for (int i = 0; i < width * height; ++i) {
        file.push_back(static_cast<std::uint8_t>(i * 7));
        file.push_back(static_cast<std::uint8_t>(i * 13 + 50));
        file.push_back(static_cast<std::uint8_t>(255 - i * 3));
    }
    return file;
}

Bytes RgbeFile(int width, int height, const std::vector<std::pair<std::uint8_t, std::uint8_t>>& pixels) {
    const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y " + std::to_string(height) + " +X " +
                               std::to_string(width) + "\n";
    Bytes file(header.begin(), header.end());
    for (int y = 0; y < height; ++y) {
        for (const int marker : {2, 2, width >> 8, width & 0xFF}) file.push_back(static_cast<std::uint8_t>(marker));
        for (int plane = 0; plane < 4; ++plane) {
            for (int x = 0; x < width; x += 128) {
                const int count = std::min(128, width - x);
                file.push_back(static_cast<std::uint8_t>(count));
                for (int k = 0; k < count; ++k) {
                    const auto& pixel = pixels[static_cast<std::size_t>(y * width + x + k) % pixels.size()];
                    file.push_back(plane < 3 ? pixel.first : pixel.second);
                }
            }
        }
    }
    return file;
}

RunResult RunDof(const std::string& directory, const std::vector<std::string>& arguments, const RunLimits& limits) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> words{DOF_BINARY};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        if (::chdir(directory.c_str()) != 0) ::_exit(126);
        if (limits.addressSpace != RLIM_INFINITY) {
            const rlimit limit{limits.addressSpace, limits.addressSpace};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    RunResult result;
    bool signalled = false;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, static_cast<std::size_t>(n));
        if (limits.signalAfterInit && !signalled && result.output.find("Init...") != std::string::npos) {
            ::kill(child, limits.signalAfterInit);
            signalled = true;
        }
    }
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}
