// Wine's RPC runtime looks up the COM allocator (CoTaskMemAlloc and
// CoTaskMemFree) the first time a proxy or stub allocates or frees
// marshalled data, and marks the lookup done before it has stored the
// functions. Two threads that marshal for the first time at once can then
// call a null function; the stub's caller sees the access violation as a
// failed call. Windows has no such first use. A test program that starts
// threads marshalling together primes the runtime first, on one thread.
#pragma once

namespace testsupport {

// Allocates and frees a block through the RPC runtime's COM allocator.
void PrimeRpcAllocator();

}  // namespace testsupport
