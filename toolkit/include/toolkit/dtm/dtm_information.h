// The DTM's information document (IDtmInformation) and its data-set
// diagnosis and comparison (IDtmDiagnosis).
//
// The information document is built from an XML template stored as an
// RT_HTML resource of the DTM module (toolkit/resources/dtm_information.rc
// gives the two templates; the DTM class fills in its version, date and
// device types), chosen by the FDT version the frame declared. The device
// types' documents, bitmaps and icons (IevFdtExtDocument) and the languages
// of the translation document (IevFdtTranslation) are added to it.
//
// DtmInformationCore does the work; CevFDT_DtmInformationImpl<T> binds it to
// the DTM class T, which provides (the base DTM of base_dtm.h does):
//   IUnknown* GetCommDtmInterface();   the DTM object, asked for its parts
//   LONG State() const;                the DTM state
//   ULONG UserRole() const;            observer 1, operator 2, ...
//   bool IsFdt121Frame() const;        the frame declared FDT 1.2.1
//   IUnknown* FrameObject() const;     the frame's object (or null)
//   void ReportMessageText(const wchar_t* text);   a user message
// The class lists the interfaces with EV_DTM_INFORMATION_ENTRIES(Class).
//
// GetInformation here is the toolkit's body: a DTM class overrides it with its
// own version, date and device types, loading the template with
// GetDtmInfoXml(DtmInfoTemplateId(), ...) and finishing with
// AddSupportedLanguages.
//
// Threads: every method runs in the DTM object's apartment.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Dispatch.h"
#include "com/Object.h"
#include "fdt.h"
#include "toolkit.h"

// RT_HTML resource ids of the information templates.
constexpr WORD kDtmInfoTemplateFdt12 = 2010;   // FDT 1.2 frames
constexpr WORD kDtmInfoTemplateFdt121 = 2018;  // FDT 1.2.1 frames (with the schema path)

// Namespace of the information document.
extern const wchar_t kDtmInformationNamespace[];  // "x-schema:DTMInformationSchema.xml"

class DtmInformationCore : public com::DispatchImpl<IDtmInformation>,
                           public com::DispatchImpl<IDtmDiagnosis> {
 public:
  DtmInformationCore(const DtmInformationCore&) = delete;
  DtmInformationCore& operator=(const DtmInformationCore&) = delete;

  // ---- IDtmInformation ---------------------------------------------------
  // States 6..12 only (else S_FALSE, *information untouched); null out
  // E_INVALIDARG. The template for the frame's FDT version (E_FAIL when the
  // module has none), for FDT 1.2.1 with the device types' documents, then
  // the supported languages.
  STDMETHODIMP GetInformation(BSTR* information) override;

  // ---- IDtmDiagnosis -----------------------------------------------------
  // States 8..12; the data-set verification (RunDiagnosis).
  STDMETHODIMP Verify(VARIANT_BOOL* valid) override;
  // States 8..12 and operator or higher: takes the partner DTM of the tag
  // from the frame's IFrameTopology and keeps its IevFdtParameterInfo.
  STDMETHODIMP InitCompare(BSTR systemTag, VARIANT_BOOL* result) override;
  // Comparison with the partner: *equal is false first, then the hook
  // CompareWithPartner.
  STDMETHODIMP CompareWithReference(VARIANT_BOOL* equal) override;
  // Gives the partner back through the frame's topology.
  STDMETHODIMP ReleaseCompare(VARIANT_BOOL* result) override;

  // ---- Toolkit operations ------------------------------------------------
  // The RT_HTML resource id as text (8-bit, converted to a BSTR). E_FAIL for
  // a missing or empty resource; E_POINTER for a null out pointer.
  HRESULT GetDtmInfoXml(WORD resourceId, BSTR* text);
  // 2018 for an FDT 1.2.1 frame, else 2010.
  WORD DtmInfoTemplateId() { return InfoFrameIs121() ? kDtmInfoTemplateFdt121 : kDtmInfoTemplateFdt12; }
  // FDT 1.2.1 step: the documents, bitmaps and icons of each device type
  // that has "fdt:DtmDocuments" (IevFdtExtDocument of the DTM object). The
  // text is answered unchanged when the object has no such interface.
  HRESULT AddDeviceTypeDocuments(const wchar_t* document, BSTR* out);
  // Replaces the "fdt:SupportedLanguages" of the first device type by the
  // languages of the translation document, in its order. Always answers a
  // text (the input unchanged when there is nothing to add or a step
  // fails); E_FAIL when the device type or its languages element is missing,
  // E_POINTER for a null out pointer.
  HRESULT AddSupportedLanguages(const wchar_t* document, BSTR* out);

  // The comparison partner (for the online compare).
  bool CompareActive() const { return compareActive_; }
  const wchar_t* CompareSystemTag() const { return compareTag_.get(); }
  IevFdtParameterInfo* ComparePartner() const { return comparePartner_.get(); }

 protected:
  DtmInformationCore() = default;
  ~DtmInformationCore();

  // What the DTM class gives (see the file comment).
  virtual IUnknown* InfoDtmObject() = 0;
  virtual LONG InfoState() = 0;
  virtual ULONG InfoUserRole() = 0;
  virtual bool InfoFrameIs121() = 0;
  virtual IUnknown* InfoFrameObject() = 0;
  virtual void InfoReportMessage(const wchar_t* text) = 0;

  // Hooks of parts built elsewhere.
  // The module that carries the templates (default: the COM module, else the
  // module of this code).
  virtual HMODULE InfoResourceModule();
  // Data-set verification: every parameter's value checked with the DTM
  // object's IevFdtParameterValidation; at the first invalid one toolkit
  // message 2002 is reported once. *valid true when none is invalid.
  virtual HRESULT RunDiagnosis(VARIANT_BOOL* valid);
  // Compare with the partner's data set (states 8..12, operator or higher,
  // else S_FALSE): the same parameter count, ids and values in index order
  // set *equal true; S_OK without a partner or at the first difference.
  virtual HRESULT CompareWithPartner(VARIANT_BOOL* equal);

 private:
  com::ComPtr<IFrameTopology> Topology();
  void DropPartner();

  com::Bstr compareTag_;
  com::ComPtr<IevFdtParameterInfo> comparePartner_;
  bool compareActive_ = false;
};

template <class T>
class CevFDT_DtmInformationImpl : public DtmInformationCore {
 protected:
  IUnknown* InfoDtmObject() override { return Dtm().GetCommDtmInterface(); }
  LONG InfoState() override { return Dtm().State(); }
  ULONG InfoUserRole() override { return Dtm().UserRole(); }
  bool InfoFrameIs121() override { return Dtm().IsFdt121Frame(); }
  IUnknown* InfoFrameObject() override { return Dtm().FrameObject(); }
  void InfoReportMessage(const wchar_t* text) override { Dtm().ReportMessageText(text); }

 private:
  T& Dtm() { return *static_cast<T*>(this); }
};

// Interface-map entries of the information part.
#define EV_DTM_INFORMATION_ENTRIES(Class) \
  com::entry<Class, IDtmInformation>(), com::entry<Class, IDtmDiagnosis>()
