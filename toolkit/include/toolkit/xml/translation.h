// The DTM's translation document and the texts looked up in it.
//
// One XML file per DTM ("hartcommdtmTranslation.xml" in the folder named by
// the registry value "TranslationPath") gives every text in each language it
// offers: every text element holds one `locale` child per language, picked by
// its `code` attribute. The DTM object holds the document in its translation
// part, CevFDT_DtmTranslationImpl, which answers IevFdtTranslation,
// IevFdtDtmTranslation, IevFdtTranslationEvent and IevFDT_AboutInformations.
// The channel and the controls have no document of their own: they ask the
// DTM object for IevFdtTranslation.
//
//   TranslationDocument   the document and its lookups (IevFdtTranslation)
//   DtmTranslation        loading the file, the DTM's language, re-translating
//                         the parameter table, the About file
//   CevFDT_DtmTranslationImpl<T>  the four COM interfaces on the DTM class T
//   CTranslationHelper    user messages by resource id, string table fallback
//   ResolveModulePath     files that lie beside the DTM's own module
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Guard.h"
#include "toolkit.h"

// Registry place of the translation folder (HKEY_LOCAL_MACHINE).
extern const wchar_t kTranslationKey[];          // "Software\VELTRA\FSK Mavix FDT\"
extern const wchar_t kTranslationPathValue[];    // "TranslationPath"
extern const wchar_t kTranslationFileName[];     // "hartcommdtmTranslation.xml"
extern const wchar_t kDefaultAboutFile[];        // "evHrt CommDTM About_en.htm"

// Parameter information fields that re-translation reads and writes.
enum ParameterInfoField : LONG {
  kParameterInfoText = 0x4,
  kParameterInfoText2 = 0x8000,
  kParameterInfoExtra1 = 0x10000,
  kParameterInfoSubType = 0x20000,
};

// The loaded document and the current language code. Lookups answer E_FAIL
// until a document is loaded.
class TranslationDocument {
 public:
  TranslationDocument();

  // IevFdtTranslation, in slot order.
  HRESULT GetLocalizedText(const wchar_t* xpath, BSTR* text, VARIANT_BOOL* found);
  HRESULT GetLanguageCount(long* count);
  HRESULT GetLanguageIdAt(long index, ULONG* languageId);
  HRESULT SelectLanguage(long languageId, VARIANT_BOOL* selected);
  // Only a translation document replaces the one held: a text that declares
  // a document type is refused unparsed, and one whose document element is
  // not "localization" is refused too. E_FAIL for those and for a text that
  // does not parse; *parseError (when given) receives the parse error text
  // or the reason for the refusal.
  HRESULT LoadTranslation(const wchar_t* xml, VARIANT_BOOL* loaded, BSTR* parseError);
  HRESULT ContainsNode(const wchar_t* xpath, VARIANT_BOOL* exists);

  // All nodes of an XPath (E_POINTER for a null out, E_FAIL with no document
  // or no list) and one node (E_FAIL when not found).
  HRESULT SelectNodes(const wchar_t* xpath, IXMLDOMNodeList** out);
  HRESULT SelectNode(const wchar_t* xpath, IXMLDOMNode** out);

  bool HasDocument() const { return static_cast<bool>(document_); }
  const wchar_t* LanguageCode() const { return languageCode_.c_str(); }
  const wchar_t* CodeAttribute() const { return codeAttribute_.c_str(); }

 private:
  com::Bstr languageCode_;
  com::ComPtr<IXMLDOMDocument2> document_;
  com::Bstr lcidAttribute_;     // "@lcid"
  com::Bstr codeAttribute_;     // "@code"
  com::Bstr languageListPath_;  // "localization/general/languages/language"
};

// What the translation part needs of its DTM object.
class TranslationHost {
 public:
  // The DTM's report output (the text is complete, not a format).
  virtual void ReportTranslationText(const char* text) = 0;
  // The DTM's current language id (IevFdtBaseDTM).
  virtual HRESULT CurrentLanguageId(long* languageId) = 0;
  // The DTM's parameter information; fails when the DTM offers none.
  virtual HRESULT QueryParameterInfo(IevFdtParameterInfo** out) = 0;
  // Whether the DTM's parameter table has the id.
  virtual bool HasParameter(ULONG parameterId) = 0;

 protected:
  ~TranslationHost() = default;
};

class DtmTranslation {
 public:
  explicit DtmTranslation(TranslationHost& host) : host_(host) {}

  TranslationDocument& Document() { return document_; }

  // IevFdtTranslation::LoadTranslation with the parse failure reported.
  HRESULT LoadTranslation(const wchar_t* xml, VARIANT_BOOL* loaded);

  // IevFdtDtmTranslation.
  HRESULT InitTranslation(VARIANT_BOOL* done);
  HRESULT CanTranslate(VARIANT_BOOL* flag);
  HRESULT ChangeLanguage(ULONG languageId, VARIANT_BOOL* done);
  // IevFdtTranslationEvent: re-translates the parameter table into the
  // language already selected. Always S_OK.
  HRESULT OnTranslate(ULONG languageId);
  // IevFDT_AboutInformations. Always S_OK.
  HRESULT GetAboutFile(BSTR* path);

  // The TranslationPath value with a trailing backslash; empty when missing.
  static HRESULT ReadTranslationPath(BSTR* folder);
  HRESULT LoadTranslationFile(VARIANT_BOOL* loaded);
  // Rewrites the parameter's enumeration entries with their labels in the
  // current language.
  HRESULT LocalizeEnumerationEntries(ULONG parameterId);

 private:
  void TranslateParameters(IevFdtParameterInfo* info);
  void TranslateEnumerations(IevFdtParameterInfo* info);

  TranslationHost& host_;
  TranslationDocument document_;
};

// The label of one enumeration entry in the current language, through the
// DTM object's IevFdtTranslation. E_FAIL when the DTM offers no translation
// or the label is not found.
HRESULT GetEnumerationEntryLabel(IUnknown* dtm, ULONG enumerationId, LONG entryId, BSTR* label);

class CTranslationHelper {
 public:
  // The user message with the resource id (or the text key): from the DTM's
  // translation document, else from the string table of module (null: the
  // module this code is linked into). E_INVALIDARG for a null out pointer, or
  // for a null key with an id below 1; E_FAIL when neither has the text.
  static HRESULT GetUserMessage(IUnknown* dtm, int resourceId, const wchar_t* key, BSTR* text,
                                HMODULE module = nullptr);
};

// The full path of a file that belongs to the DTM: a relative path is taken
// from the module's folder; when no file exists there, the module folder and
// the path's bare file name. URLs and absolute paths (drive or UNC) stay as
// they are. module null: the module this code is linked into.
HRESULT ResolveModulePath(const wchar_t* path, BSTR* out, HMODULE module = nullptr);

// The module this code is linked into (the DTM's DLL, or a test program).
HMODULE ToolkitModule();

// IevFdtTranslation, IevFdtDtmTranslation, IevFdtTranslationEvent and
// IevFDT_AboutInformations on the DTM class T. T lists them in its interface
// map and provides:
//   void ReportMessage(const char* format, ...);   its report output
//   HRESULT GetLanguageId(long* languageId);        (IevFdtBaseDTM)
//   bool HasParameter(ULONG parameterId);           its parameter table
// and is a com::ObjectRoot (its controlling unknown answers
// IevFdtParameterInfo when it has parameters).
template <class T>
class CevFDT_DtmTranslationImpl : public com::DispatchImpl<IevFdtTranslation>,
                                  public com::DispatchImpl<IevFdtDtmTranslation>,
                                  public com::DispatchImpl<IevFdtTranslationEvent>,
                                  public com::DispatchImpl<IevFDT_AboutInformations>,
                                  private TranslationHost {
 public:
  CevFDT_DtmTranslationImpl() : translation_(*this) {}

  DtmTranslation& Translation() { return translation_; }

  // IevFdtTranslation
  STDMETHODIMP GetLocalizedText(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override {
    return com::guard([&] { return translation_.Document().GetLocalizedText(xpath, text, found); });
  }
  STDMETHODIMP GetLanguageCount(long* count) override {
    return com::guard([&] { return translation_.Document().GetLanguageCount(count); });
  }
  STDMETHODIMP GetLanguageIdAt(long index, ULONG* languageId) override {
    return com::guard([&] { return translation_.Document().GetLanguageIdAt(index, languageId); });
  }
  STDMETHODIMP SelectLanguage(long languageId, VARIANT_BOOL* selected) override {
    return com::guard([&] { return translation_.Document().SelectLanguage(languageId, selected); });
  }
  STDMETHODIMP LoadTranslation(BSTR xml, VARIANT_BOOL* loaded) override {
    return com::guard([&] { return translation_.LoadTranslation(xml, loaded); });
  }
  STDMETHODIMP ContainsNode(BSTR xpath, VARIANT_BOOL* exists) override {
    return com::guard([&] { return translation_.Document().ContainsNode(xpath, exists); });
  }

  // IevFdtDtmTranslation
  STDMETHODIMP InitTranslation(VARIANT_BOOL* done) override {
    return com::guard([&] { return translation_.InitTranslation(done); });
  }
  STDMETHODIMP CanTranslate(VARIANT_BOOL* flag) override {
    return com::guard([&] { return translation_.CanTranslate(flag); });
  }
  STDMETHODIMP ChangeLanguage(ULONG languageId, VARIANT_BOOL* done) override {
    return com::guard([&] { return translation_.ChangeLanguage(languageId, done); });
  }

  // IevFdtTranslationEvent
  STDMETHODIMP OnTranslate(ULONG languageId) override {
    return com::guard([&] { return translation_.OnTranslate(languageId); });
  }

  // IevFDT_AboutInformations
  STDMETHODIMP GetAboutFile(BSTR* path) override {
    return com::guard([&] { return translation_.GetAboutFile(path); });
  }

 private:
  T& Dtm() { return *static_cast<T*>(this); }

  void ReportTranslationText(const char* text) override { Dtm().ReportMessage("%s", text); }
  HRESULT CurrentLanguageId(long* languageId) override { return Dtm().GetLanguageId(languageId); }
  HRESULT QueryParameterInfo(IevFdtParameterInfo** out) override {
    *out = nullptr;
    IUnknown* identity = Dtm().controllingUnknown();
    if (!identity) return E_NOINTERFACE;
    return identity->QueryInterface(__uuidof(IevFdtParameterInfo), reinterpret_cast<void**>(out));
  }
  bool HasParameter(ULONG parameterId) override { return Dtm().HasParameter(parameterId); }

  DtmTranslation translation_;
};
