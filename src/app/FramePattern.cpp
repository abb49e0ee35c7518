#include "app/FramePattern.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <set>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// More frames than any shot has: a typing error.
constexpr std::size_t kMostFrames = 1000000;

// A whole number from 0 to INT_MAX at text[at..], moving at past it.
bool ReadNumber(const std::string& text, std::size_t& at, int& value) {
    if (at >= text.size() || !IsDigit(text[at])) return false;
    long long n = 0;
    while (at < text.size() && IsDigit(text[at])) {
        n = n * 10 + (text[at++] - '0');
        if (n > INT_MAX) return false;
    }
    value = static_cast<int>(n);
    return true;
}

// The pattern that starts at path[at], as its length and width; 0 when none does.
std::size_t PatternAt(const std::string& path, std::size_t at, int& width) {
    if (path[at] == '#') {
        std::size_t end = at;
        while (end < path.size() && path[end] == '#') ++end;
        width = static_cast<int>(end - at);
        return end - at;
    }
    if (path[at] != '%') return 0;
    std::size_t end = at + 1;
    width = 0;
    if (end < path.size() && path[end] == '0') {
        ++end;
        while (end < path.size() && IsDigit(path[end]) && width < 100) width = width * 10 + (path[end++] - '0');
    }
    if (end < path.size() && path[end] == 'd') return end + 1 - at;
    return 0;
}

}  // namespace

bool ParseFrames(const std::string& text, std::vector<int>& frames) {
    frames.clear();
    std::set<int> seen;
    std::size_t at = 0;
    while (true) {
        int first = 0, last = 0, step = 1;
        if (!ReadNumber(text, at, first)) return false;
        last = first;
        if (at < text.size() && text[at] == '-') {
            ++at;
            if (!ReadNumber(text, at, last) || last < first) return false;
            if (at < text.size() && text[at] == 'x') {
                ++at;
                if (!ReadNumber(text, at, step) || step < 1) return false;
            }
        }
        for (long long f = first; f <= last; f += step) {
            if (seen.insert(static_cast<int>(f)).second) frames.push_back(static_cast<int>(f));
            if (frames.size() > kMostFrames) return false;
        }
        if (at == text.size()) return true;
        if (text[at] != ',') return false;
        ++at;
    }
}

bool HasFramePattern(const std::string& path) {
    int width = 0;
    for (std::size_t at = 0; at < path.size(); ++at)
        if (PatternAt(path, at, width) > 0) return true;
    return false;
}

std::string FramePath(const std::string& path, int frame) {
    std::string out;
    for (std::size_t at = 0; at < path.size();) {
        int width = 0;
        const std::size_t length = PatternAt(path, at, width);
        if (length == 0) {
            out += path[at++];
            continue;
        }
        char number[128];
        std::snprintf(number, sizeof number, "%0*d", width, frame);
        out += number;
        at += length;
    }
    return out;
}

std::string FrameRuns(std::vector<int> frames) {
    std::sort(frames.begin(), frames.end());
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(frames[i]);
        if (j > i) text += "-" + std::to_string(frames[j]);
        i = j + 1;
    }
    return text;
}
