#include "rpc_runtime.h"

#include <windows.h>
#include <rpc.h>
#include <rpcndr.h>

namespace testsupport {

void PrimeRpcAllocator() { ::NdrOleFree(::NdrOleAllocate(1)); }

}  // namespace testsupport
