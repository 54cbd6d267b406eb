// The translation part of a DTM's channel. A channel has no translation
// document of its own: its IevFdtTranslation answers with its owner DTM's
// document, and its IevFdtTranslationEvent reads the channel's parameter
// texts again from that document after the language changed.
//
// CevFDT_ChannelTranslationImpl<T> is a base of the channel class T, which
// lists EV_CHANNEL_TRANSLATION_ENTRIES(T) in its interface map, is a
// com::ObjectRoot whose object answers IevFdtParameterInfo, and provides
//   com::ComPtr<IUnknown> GetCommDtmInterface();   the owner DTM, or null
//   HRESULT LoadParameterTexts(IevFdtParameterInfo* info, ULONG index);
//
// The channel passes each IevFdtTranslation call on to its owner's rather
// than handing the owner's interface out from QueryInterface: what the
// channel's QueryInterface answers must lead back to the channel (its
// IUnknown, its other interfaces), and the channel keeps answering the
// same set of interfaces whether or not it has an owner at the moment.
// Without an owner, or when the owner has no translation, every call
// answers E_FAIL, as a translation without a document does.
//
// Threads: the channel's apartment, where its owner lives too.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Guard.h"
#include "toolkit.h"

class ChannelTranslationCore : public com::DispatchImpl<IevFdtTranslation>,
                               public com::DispatchImpl<IevFdtTranslationEvent> {
 public:
  // --- IevFdtTranslation: the owner's ---
  STDMETHODIMP GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override;
  STDMETHODIMP GetLanguageCount(long* count) override;
  STDMETHODIMP GetLanguageIdAt(long index, ULONG* languageId) override;
  STDMETHODIMP SelectLanguage(long languageId, VARIANT_BOOL* selected) override;
  STDMETHODIMP LoadTranslation(BSTR xml, VARIANT_BOOL* loaded) override;
  STDMETHODIMP ContainsNode(BSTR xpath, VARIANT_BOOL* exists) override;

  // --- IevFdtTranslationEvent ---
  // OnLanguageChanged; the language is the one the owner's translation
  // selected already, the argument is not read. Always S_OK.
  STDMETHODIMP OnTranslate(ULONG languageId) override;

  // The translation has switched language: without the owner's translation
  // nothing happens; otherwise LoadParameterTexts runs for every index of
  // the channel's parameters (IevFdtParameterInfo). Always S_OK.
  HRESULT OnLanguageChanged();

  // The owner's translation; null without an owner or translation.
  com::ComPtr<IevFdtTranslation> OwnerTranslation();

 protected:
  ChannelTranslationCore() = default;
  ~ChannelTranslationCore() = default;

  virtual com::ComPtr<IUnknown> TranslationOwner() = 0;
  virtual HRESULT QueryChannelParameterInfo(IevFdtParameterInfo** out) = 0;
  virtual HRESULT LoadChannelParameterTexts(IevFdtParameterInfo* info, ULONG index) = 0;
};

template <class T>
class CevFDT_ChannelTranslationImpl : public ChannelTranslationCore {
 protected:
  com::ComPtr<IUnknown> TranslationOwner() override { return Channel().GetCommDtmInterface(); }
  HRESULT QueryChannelParameterInfo(IevFdtParameterInfo** out) override {
    *out = nullptr;
    IUnknown* identity = Channel().controllingUnknown();
    if (!identity) return E_NOINTERFACE;
    return identity->QueryInterface(__uuidof(IevFdtParameterInfo), reinterpret_cast<void**>(out));
  }
  HRESULT LoadChannelParameterTexts(IevFdtParameterInfo* info, ULONG index) override {
    return Channel().LoadParameterTexts(info, index);
  }

 private:
  T& Channel() { return *static_cast<T*>(this); }
};

#define EV_CHANNEL_TRANSLATION_ENTRIES(Class) \
  com::entry<Class, IevFdtTranslation>(), com::entry<Class, IevFdtTranslationEvent>()
