// Type libraries a test program keeps loaded for its whole run (or, for a
// program that shows the code under test holds them, does not).
//
// Wine frees a type library whose count drops to zero even when another
// thread took it from its cache a moment earlier: LoadTypeLib adds its
// reference under the cache's lock, the last Release drops to zero outside
// it and frees the library after. The typelib marshaller loads the library
// for every proxy and stub it makes and releases it again, so worker
// threads that marshal while the server unloads (and gives up its own
// reference) can make a proxy from freed type information and crash. A
// library the program holds never drops to zero.
#pragma once

#include <string>

namespace testsupport {

// Loads the type library at path ("file", or "file\N" for its TYPELIB
// resource N) and holds it until the program ends; false when it cannot be
// loaded. Use the path it was registered under.
bool KeepTypeLibraryLoaded(const std::wstring& path);

// Registers the type library at path under that path (as a frame's
// installation would have) and holds it like KeepTypeLibraryLoaded; false
// when it cannot be loaded or registered.
bool RegisterTypeLibrary(const std::wstring& path);

// Registers it the same way and lets it go again: in a program that holds
// none of its libraries, only the code under test keeps them loaded.
bool RegisterTypeLibraryReleased(const std::wstring& path);

}  // namespace testsupport
