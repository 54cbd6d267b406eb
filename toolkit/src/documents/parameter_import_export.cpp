// Export and Import of the DTM's parameter values on a stream.
#include "toolkit/documents/parameter_import_export.h"

#include <string>
#include <vector>

#include "com/Bstr.h"
#include "com/Guard.h"
#include "toolkit/dtm/dtm_states.h"
#include "toolkit/values/text_helpers.h"

namespace {

constexpr wchar_t kDeclaration[] = L"<?xml version=\"1.0\"?> \r\n";

}  // namespace

bool ImportExportCore::allowed(IStream* stream) {
  BaseDtm& dtm = ImportExportDtm();
  return stream && dtm.State() == kDtmConfigured && dtm.UserRole() > kRoleObserver;
}

STDMETHODIMP ImportExportCore::Export(IStream* stream, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!allowed(stream)) return S_FALSE;
    com::Bstr parameters;
    if (FAILED(ImportExportHandler().ExportParameters(L"Export", true, false, parameters.put())))
      return S_FALSE;
    std::wstring text = kDeclaration;
    if (parameters.c_str()) text += parameters.c_str();

    // Stored in the ANSI code page: a character it cannot hold fails the
    // export rather than turning into "?".
    std::string bytes;
    if (!ToThreadCodePage(text.c_str(), text.size(), &bytes)) return S_FALSE;
    ULONG written = 0;
    HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr) || written != bytes.size()) return S_FALSE;
    *done = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP ImportExportCore::Import(IStream* stream, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  return com::guard([&]() -> HRESULT {
    if (!allowed(stream)) return S_FALSE;
    STATSTG stat = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return S_FALSE;
    // The size the stream claims only bounds the read; what counts is what
    // arrives, and a document must arrive whole.
    if (stat.cbSize.QuadPart > kMaxImportBytes) return S_FALSE;
    const ULONG expected = static_cast<ULONG>(stat.cbSize.QuadPart);
    std::vector<char> bytes(expected);
    ULONG total = 0;
    while (total < expected) {
      ULONG read = 0;
      HRESULT hr = stream->Read(bytes.data() + total, expected - total, &read);
      if (FAILED(hr)) return S_FALSE;
      if (read == 0) break;
      total += read;
    }
    if (total != expected || total == 0) return S_FALSE;

    const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(),
                                             static_cast<int>(total), nullptr, 0);
    if (length <= 0) return S_FALSE;
    std::wstring text(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), static_cast<int>(total), &text[0],
                          length);
    if (FAILED(ImportExportHandler().LoadParameterValues(text.c_str(), L"Import"))) return S_FALSE;
    *done = VARIANT_TRUE;
    return S_OK;
  });
}
