// One libFuzzer target; KARVELON_FUZZ_ENTRY names the entry it drives.
#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    FuzzEntries::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEntries::KARVELON_FUZZ_ENTRY(data, size);
    return 0;
}
