#pragma once

// The program's exit codes.
enum ExitCode {
    kSuccess = 0,
    kBadInput = 1,
    kDepthSize = 2,
    kLensSize = 3,
    kOutputFailed = 4,
    kOutOfMemory = 5,
    kSystemError = 6,
};
