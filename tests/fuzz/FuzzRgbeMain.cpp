// libFuzzer entry of FuzzRgbe (FuzzTargets.h).
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzRgbe(data, size);
    return 0;
}
