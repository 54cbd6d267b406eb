// A channel's translation: its owner's, and the channel's parameter texts
// read again after a language change.
#include "toolkit/xml/channel_translation.h"

#include "com/Variant.h"

com::ComPtr<IevFdtTranslation> ChannelTranslationCore::OwnerTranslation() {
  com::ComPtr<IevFdtTranslation> translation;
  const com::ComPtr<IUnknown> owner = TranslationOwner();
  if (owner) translation.queryFrom(owner.get());
  return translation;
}

STDMETHODIMP ChannelTranslationCore::GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->GetLocalizedText(xpath, text, found);
    if (!text || !found) return E_INVALIDARG;
    *text = nullptr;
    *found = VARIANT_FALSE;
    return E_FAIL;
  });
}

STDMETHODIMP ChannelTranslationCore::GetLanguageCount(long* count) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->GetLanguageCount(count);
    if (!count) return E_POINTER;
    *count = 0;
    return E_FAIL;
  });
}

STDMETHODIMP ChannelTranslationCore::GetLanguageIdAt(long index, ULONG* languageId) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->GetLanguageIdAt(index, languageId);
    return languageId ? E_FAIL : E_POINTER;
  });
}

STDMETHODIMP ChannelTranslationCore::SelectLanguage(long languageId, VARIANT_BOOL* selected) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->SelectLanguage(languageId, selected);
    if (!selected) return E_POINTER;
    *selected = VARIANT_FALSE;
    return E_FAIL;
  });
}

STDMETHODIMP ChannelTranslationCore::LoadTranslation(BSTR xml, VARIANT_BOOL* loaded) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->LoadTranslation(xml, loaded);
    if (!loaded) return E_POINTER;
    *loaded = VARIANT_FALSE;
    return E_FAIL;
  });
}

STDMETHODIMP ChannelTranslationCore::ContainsNode(BSTR xpath, VARIANT_BOOL* exists) {
  return com::guard([&]() -> HRESULT {
    if (auto translation = OwnerTranslation()) return translation->ContainsNode(xpath, exists);
    if (!exists) return E_POINTER;
    *exists = VARIANT_FALSE;
    return E_FAIL;
  });
}

STDMETHODIMP ChannelTranslationCore::OnTranslate(ULONG) {
  return com::guard([&] { return OnLanguageChanged(); });
}

HRESULT ChannelTranslationCore::OnLanguageChanged() {
  if (!OwnerTranslation()) return S_OK;
  com::ComPtr<IevFdtParameterInfo> info;
  if (FAILED(QueryChannelParameterInfo(info.put())) || !info) return S_OK;
  com::Variant count;
  if (FAILED(info->GetCount(count.put())) || FAILED(count.changeType(VT_UI4))) return S_OK;
  // A text that cannot be read keeps its old one; the others go on.
  for (ULONG index = 0; index < V_UI4(count.get()); ++index) LoadChannelParameterTexts(info.get(), index);
  return S_OK;
}
