// libFuzzer entry of FuzzExr (FuzzTargets.h).
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzExr(data, size);
    return 0;
}
