// The stream forms of BSTR and VARIANT values that persisted data uses.
//
// BSTR: a 4-byte little-endian byte count that includes the 2-byte
// terminator (0 for a null BSTR), then that many bytes of UTF-16 text ending
// with a zero character.
// VARIANT: the 2-byte VARTYPE, then the value: 1 byte for VT_I1 and VT_UI1;
// 2 bytes for VT_I2, VT_UI2 and VT_BOOL; 4 bytes for VT_I4, VT_UI4, VT_R4,
// VT_INT, VT_UINT and VT_ERROR; 8 bytes for VT_R8, VT_CY, VT_DATE, VT_I8 and
// VT_UI8; nothing for VT_EMPTY and VT_NULL; VT_BSTR in the BSTR form. Any
// other type is written as its VARTYPE followed by its text (changed to
// VT_BSTR) in the BSTR form, and read back by changing the text to the type.
//
// Reading fails with E_FAIL on a short read, an odd byte count or a missing
// terminator, and with E_ACCESSDENIED on a byte count above 1,048,576; on
// every read failure the stream is moved back to where the item began.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

#include "com/Bstr.h"
#include "com/Variant.h"

namespace com {

constexpr ULONG kMaxStreamTextBytes = 1048576;

// Remembers a stream's position and moves back to it when it goes out of
// scope, unless keep() was called: a failed read leaves the stream where the
// item began.
class StreamRewind {
 public:
  explicit StreamRewind(IStream* stream) : stream_(stream) {
    LARGE_INTEGER zero = {};
    known_ = SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &start_));
  }
  ~StreamRewind() {
    if (known_) rewind();
  }
  StreamRewind(const StreamRewind&) = delete;
  StreamRewind& operator=(const StreamRewind&) = delete;

  // Moves back now; the position is still remembered.
  void rewind() {
    if (!known_) return;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(start_.QuadPart);
    stream_->Seek(to, STREAM_SEEK_SET, nullptr);
  }
  void keep() { known_ = false; }

 private:
  IStream* stream_;
  ULARGE_INTEGER start_ = {};
  bool known_ = false;
};

HRESULT writeBstr(IStream* stream, BSTR text);
HRESULT readBstr(IStream* stream, Bstr& text);

HRESULT writeVariant(IStream* stream, const VARIANT& value);
HRESULT readVariant(IStream* stream, Variant& value);

// A property map without properties in its stream form: the 4-byte format
// version 3072. Reading needs 4 bytes and a version of at most 3072, else
// E_FAIL (and the stream is moved back).
constexpr DWORD kPropertyMapVersion = 3072;
HRESULT writeEmptyPropertyMap(IStream* stream);
HRESULT readEmptyPropertyMap(IStream* stream);

}  // namespace com
