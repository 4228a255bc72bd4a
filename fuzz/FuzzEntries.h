#pragma once

#include <cstddef>
#include <cstdint>

// One entry per parser that reads bytes we do not control. Each takes any byte
// sequence, must never crash or allocate without bound, and aborts (so the
// fuzzer reports it) when a property that callers rely on does not hold.
// The libFuzzer targets and the corpus regression test call the same entries.
namespace FuzzEntries {

// Prepares what the entries need once per process (meta-types, a quiet logger).
void initialise();

void callRequest(const uint8_t* data, size_t size);
void pluginCommand(const uint8_t* data, size_t size);
void socketIOFrame(const uint8_t* data, size_t size);
void logRecord(const uint8_t* data, size_t size);
void apiEnvelope(const uint8_t* data, size_t size);
void wanIpHtml(const uint8_t* data, size_t size);
void storedSipAccounts(const uint8_t* data, size_t size);
void screenPop(const uint8_t* data, size_t size);
void vCard(const uint8_t* data, size_t size);
void numberFinder(const uint8_t* data, size_t size);

struct Target
{
    const char* name; // also the corpus folder name
    void (*run)(const uint8_t* data, size_t size);
};
// Every target, for the regression test.
const Target* targets(size_t& count);

} // namespace FuzzEntries
