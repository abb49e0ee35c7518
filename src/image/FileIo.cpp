#include "image/FileIo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/LargeArray.h"

namespace {

// Reads up to count bytes; fewer only at the end of the file or on an error.
std::size_t ReadFully(int fd, unsigned char* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

void SetReason(std::string* reason, const char* text) {
    if (reason) *reason = text;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size) {
    return ReadWholeFile(path, data, size, HeadCheck()) == ReadResult::kRead;
}

ReadResult ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size,
                         const HeadCheck& check, std::string* reason) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        SetReason(reason, std::strerror(errno));
        return ReadResult::kUnreadable;
    }
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || info.st_size < 0) {
        SetReason(reason, std::strerror(errno));
        return ReadResult::kUnreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        SetReason(reason, S_ISDIR(info.st_mode) ? "is a directory" : "not a regular file");
        return ReadResult::kUnreadable;
    }
    const std::size_t expected = static_cast<std::size_t>(info.st_size);

    std::vector<unsigned char> head(expected < kHeadBytes ? expected : kHeadBytes);
    if (ReadFully(file.get(), head.data(), head.size()) != head.size()) {
        SetReason(reason, "the file could not be read whole");
        return ReadResult::kUnreadable;
    }
    if (check && !check(head.data(), head.size(), expected)) return ReadResult::kRefused;

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[expected > 0 ? expected : 1]);
    ReadyForWriting(buffer.get(), expected);
    if (!head.empty()) std::memcpy(buffer.get(), head.data(), head.size());
    const std::size_t rest = expected - head.size();
    if (ReadFully(file.get(), buffer.get() + head.size(), rest) != rest) {
        SetReason(reason, "the file could not be read whole");
        return ReadResult::kUnreadable;
    }
    data = std::move(buffer);
    size = expected;
    return ReadResult::kRead;
}

namespace {

// Blocks the signals that end a run for as long as it lives, so that a
// temporary file is never left behind by one of them.
class EndingSignalsBlocked {
public:
    EndingSignalsBlocked() {
        sigset_t ending;
        sigemptyset(&ending);
        sigaddset(&ending, SIGINT);
        sigaddset(&ending, SIGTERM);
        sigaddset(&ending, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &ending, &previous_);
    }
    EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
    EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;
    ~EndingSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_;
};

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Where a chain of symbolic links that starts at path ends: path itself when
// it is no link (or does not exist). False for a loop or a chain too long.
bool FollowLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        std::vector<char> text(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= text.size()) return false;
        const std::string next(text.data(), static_cast<std::size_t>(n));
        target = next[0] == '/' ? next : DirectoryOf(target) + "/" + next;
    }
    return false;
}

bool WriteAll(int fd, const unsigned char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool Fail(std::string* reason, const char* text) {
    if (reason) *reason = text;
    return false;
}

// Creates a new file from pattern, whose last six characters are replaced by
// letters and digits, with the mode a plain create would give it.
int CreateTemporary(std::vector<char>& name) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::atomic<unsigned long> counter{0};
    const std::size_t end = name.size() - 1;  // the terminating zero
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned long long seed = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
        seed ^= (static_cast<unsigned long long>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        for (std::size_t i = end - 6; i < end; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            name[i] = kLetters[(seed >> 33) % 62];
        }
        const int fd = ::open(name.data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const unsigned char* bytes, std::size_t size,
                         std::string* reason) {
    return WriteFileAtomically(path, [&](const ByteWriter& write) { return write(bytes, size); }, reason);
}

bool WriteFileAtomically(const std::string& path, const std::function<bool(const ByteWriter& write)>& produce,
                         std::string* reason) {
    if (path.empty()) return Fail(reason, "the path is empty");
    if (path.back() == '/') return Fail(reason, "the path names a directory");
    std::string target;
    if (!FollowLinks(path, target)) return Fail(reason, "too many levels of symbolic links");
    const std::size_t slash = target.find_last_of('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string pattern = DirectoryOf(target) + "/." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');

    const EndingSignalsBlocked blocked;
    const int fd = CreateTemporary(name);
    if (fd < 0) return Fail(reason, std::strerror(errno));
    // A file that is replaced keeps its permissions.
    struct stat existing;
    if (::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 07777);
    int error = 0;
    bool ok = produce([&](const unsigned char* bytes, std::size_t size) {
        if (WriteAll(fd, bytes, size)) return true;
        error = errno;
        return false;
    });
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(name.data());
        return Fail(reason, error != 0 ? std::strerror(error) : "the file could not be written");
    }
    return true;
}
