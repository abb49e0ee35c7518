#include "app/FileIo.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/LargeArray.h"

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

}  // namespace

bool ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size) {
    return ReadWholeFile(path, data, size, HeadCheck()) == ReadResult::kRead;
}

ReadResult ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size,
                         const HeadCheck& check) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return ReadResult::kUnreadable;
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return ReadResult::kUnreadable;
    const std::size_t expected = static_cast<std::size_t>(info.st_size);

    std::vector<unsigned char> head(expected < kHeadBytes ? expected : kHeadBytes);
    if (ReadFully(file.get(), head.data(), head.size()) != head.size()) return ReadResult::kUnreadable;
    if (check && !check(head.data(), head.size(), expected)) return ReadResult::kRefused;

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[expected > 0 ? expected : 1]);
    AdviseHugePages(buffer.get(), expected);
    if (!head.empty()) std::memcpy(buffer.get(), head.data(), head.size());
    const std::size_t rest = expected - head.size();
    if (ReadFully(file.get(), buffer.get() + head.size(), rest) != rest) return ReadResult::kUnreadable;
    data = std::move(buffer);
    size = expected;
    return ReadResult::kRead;
}

namespace {

// The name of the temporary output file while it exists, for
// RemoveUnfinishedOutput; set and cleared only with the ending signals blocked.
std::atomic<const char*> unfinishedOutput{nullptr};

// Blocks the signals that end a run for as long as it lives, so that a file
// and the record of its name come and go together.
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

}  // namespace

bool WriteFileAtomically(const std::string& path, const unsigned char* bytes, std::size_t size) {
    if (path.empty() || path.back() == '/') return false;
    const std::size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = DirectoryOf(path) + "/." + base + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd;
    {
        const EndingSignalsBlocked blocked;
        fd = ::mkstemp(name.data());
        if (fd < 0) return false;
        unfinishedOutput.store(name.data());
    }
    // mkstemp creates the file private; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    bool ok = WriteAll(fd, bytes, size);
    ok = (::close(fd) == 0) && ok;
    const EndingSignalsBlocked blocked;
    if (ok) ok = ::rename(name.data(), path.c_str()) == 0;
    if (!ok) ::unlink(name.data());
    unfinishedOutput.store(nullptr);
    return ok;
}

void RemoveUnfinishedOutput() {
    const char* name = unfinishedOutput.load();
    if (name) ::unlink(name);
}
