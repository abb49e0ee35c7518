#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

// Reads a whole file. False when it cannot be opened, its size cannot be
// found, or fewer bytes than its size arrive.
bool ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size);

// Judges a file from its first bytes (all of them for a small file) and its
// size before the whole of it is read: true to go on reading.
using HeadCheck = std::function<bool(const unsigned char* head, std::size_t headSize, std::size_t fileSize)>;

// How many bytes a HeadCheck is shown at most.
constexpr std::size_t kHeadBytes = 64 * 1024;

enum class ReadResult { kRead, kUnreadable, kRefused };

// ReadWholeFile that lets check refuse the file (kRefused) before the buffer
// for the whole file is allocated. For kUnreadable, reason (when given) says
// why.
ReadResult ReadWholeFile(const std::string& path, std::unique_ptr<unsigned char[]>& data, std::size_t& size,
                         const HeadCheck& check, std::string* reason = nullptr);

// Writes bytes to a temporary file beside path and renames it over path only
// once complete, so a failed run never leaves a half-written or destroyed
// file. A path that is a symbolic link (or a chain of them) is written
// through: the file it ends at is replaced and the links stay. The signals
// that end a run (SIGINT, SIGTERM, SIGHUP) wait until the file is complete
// or gone. On failure, reason (when given) says why.
bool WriteFileAtomically(const std::string& path, const unsigned char* bytes, std::size_t size,
                         std::string* reason = nullptr);
// The same with the bytes made as they are written: produce hands them to
// write in pieces, in order, and returns false where a write did (write
// returns false when its piece could not be written).
typedef std::function<bool(const unsigned char* bytes, std::size_t size)> ByteWriter;
bool WriteFileAtomically(const std::string& path, const std::function<bool(const ByteWriter& write)>& produce,
                         std::string* reason = nullptr);
