#pragma once
// Result codes of the provider framework. A code is a failure exactly when its
// top four bits are 0x1; HRESULTs and Windows errors are not failures by this
// test.
#include <cstdint>

constexpr uint32_t PROVIDER_RESULT_OK = 0;
constexpr uint32_t PROVIDER_RESULT_FAILED = 0x10000001;
constexpr uint32_t PROVIDER_RESULT_NOT_SUPPORTED = 0x10000002;
constexpr uint32_t PROVIDER_RESULT_INVALID_PARAMETER = 0x10000003;
constexpr uint32_t PROVIDER_RESULT_OUT_OF_MEMORY = 0x10000004;
constexpr uint32_t PROVIDER_RESULT_NOT_INITIALIZED = 0x10000005;

constexpr uint32_t PROVIDER_FAILURE_MASK = 0xF0000000;
constexpr uint32_t PROVIDER_FAILURE_BITS = 0x10000000;

inline bool IsProviderFailure(uint32_t code) {
    return (code & PROVIDER_FAILURE_MASK) == PROVIDER_FAILURE_BITS;
}

// The IPC transport's failures (the message or its answer was lost, a query
// timed out, nobody serves the pipe) are 0x1002xxxx.
constexpr uint32_t PROVIDER_TRANSPORT_MASK = 0xFFFF0000;
constexpr uint32_t PROVIDER_TRANSPORT_BITS = 0x10020000;

inline bool IsTransportFailure(uint32_t code) {
    return (code & PROVIDER_TRANSPORT_MASK) == PROVIDER_TRANSPORT_BITS;
}
