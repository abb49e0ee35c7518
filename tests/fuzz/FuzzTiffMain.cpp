// libFuzzer entry of FuzzTiff (FuzzTargets.h).
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzTiff(data, size);
    return 0;
}
