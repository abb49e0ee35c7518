#include "app/CmdLineOption.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

double CCmdLineOption::ParseNumber(const char* text) {
    const char* p = text;
    while (IsSpace(*p)) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            while (IsDigit(*q)) ++q;
            p = q;
        }
    }
    // The prefix is a plain decimal number now, which strtod reads exactly.
    const std::string prefix(start, p);
    return std::strtod(prefix.c_str(), nullptr);
}

void CCmdLineOption::ParseArguments(int argc, const char* const* argv) {
    argCount = argc;
    argIndex = 1;
    pending = &CCmdLineOption::HandleSwitch;
    while (argIndex < argCount) {
        (this->*pending)(argv[argIndex]);
        argIndex += 1;
    }
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::HandleSwitch(const char* argument) {
    if (argument[0] != '-') return;
    if (argument[1] == '-') {
        const std::string name(argument + 2);
        if (action != Action::kRun) return;  // the first of --help and --version wins
        if (name == "help") {
            action = Action::kHelp;
        } else if (name == "version") {
            action = Action::kVersion;
        } else if (name == "threads") {
            pending = &CCmdLineOption::SetThreads;
        } else if (name.compare(0, 8, "threads=") == 0) {
            SetThreads(argument + 10);
        }
        return;
    }
    switch (argument[1]) {
        case 'i': pending = &CCmdLineOption::SetImageFile; break;
        case 'z': pending = &CCmdLineOption::SetZbufferFile; break;
        case 'l': pending = &CCmdLineOption::SetLensFile; break;
        case 'o': pending = &CCmdLineOption::SetOutputFile; break;
        case 's': pending = &CCmdLineOption::SetBlurSize; break;
        case 'k': pending = &CCmdLineOption::SetStrong; break;
        case 'c': pending = &CCmdLineOption::SetFocus; break;
        case 'n': pending = &CCmdLineOption::SetZNear; break;
        case 'f': pending = &CCmdLineOption::SetZFar; break;
        case 'r': zReverse = true; break;
        case 'h': PrintUsage(); break;
        default: break;
    }
}

void CCmdLineOption::SetImageFile(const char* argument) {
    imageFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZbufferFile(const char* argument) {
    zbufferFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetLensFile(const char* argument) {
    lensFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetOutputFile(const char* argument) {
    outputFile = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetBlurSize(const char* argument) {
    blurSize = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetStrong(const char* argument) {
    strong = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetFocus(const char* argument) {
    focus = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZNear(const char* argument) {
    zNear = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetZFar(const char* argument) {
    zFar = ParseNumber(argument);
    pending = &CCmdLineOption::HandleSwitch;
}

void CCmdLineOption::SetThreads(const char* argument) {
    // A whole number from 0 (every processor) to 4096, and nothing else.
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(argument, &end, 10);
    threadsValid = end != argument && *end == '\0' && errno == 0 && value >= 0 && value <= 4096 &&
                   IsDigit(argument[0]);
    threads = threadsValid ? static_cast<int>(value) : -1;
    threadsText = argument;
    pending = &CCmdLineOption::HandleSwitch;
}

dof::ExactParams CCmdLineOption::Params() const {
    dof::ExactParams params;
    params.blurSize = blurSize;
    params.strong = strong;
    params.focus = focus;
    params.zNear = zNear;
    params.zFar = zFar;
    params.zReverse = zReverse;
    return params;
}

void CCmdLineOption::PrintHelp() {
    PrintUsage();
    std::fputs(" --threads N       worker threads, 0 for every processor\n", stdout);
    std::fputs(" --help            print this text and exit\n", stdout);
    std::fputs(" --version         print the version and exit\n", stdout);
    std::fputs("\n", stdout);
}

void CCmdLineOption::PrintUsage() {
    std::fputs("\n", stdout);
    std::fputs(" -i image_file     def=\"image.tga\"\n", stdout);
    std::fputs(" -z zbuffer_file   def=\"zbuffer.tga\"\n", stdout);
    std::fputs(" -l lens_file      def=\"lens.tga\"\n", stdout);
    std::fputs(" -o output_file    def=\"out.tga\"\n", stdout);
    std::fputs(" -s blur_size(pix) def=\"16.0\"\n", stdout);
    std::fputs(" -k strong         def=\"1.035\"\n", stdout);
    std::fputs(" -c focas(m)       def=\"0.5\"\n", stdout);
    std::fputs(" -n z near(m)      def=\"0.0\"\n", stdout);
    std::fputs(" -f z far(m)       def=\"1.0\"\n", stdout);
    std::fputs(" -r zbuffer reverse\n", stdout);
    std::fputs("\n", stdout);
    pending = &CCmdLineOption::HandleSwitch;
}
