// A DTM object for the translation and message tests: the toolkit's
// translation part on a COM object, with a small parameter table behind
// IevFdtParameterInfo and a recorded report output.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "com/Object.h"
#include "com/Variant.h"
#include "toolkit/xml/translation.h"

struct TestParameter {
  std::wstring text, text2;
  LONG subType = 0;
  std::vector<std::string> entries;  // "number;label"
  std::vector<std::wstring> wideEntries;  // the same, as last set, before the ANSI copy
};

class TestDtm : public com::ObjectRoot,
                public CevFDT_DtmTranslationImpl<TestDtm>,
                public com::DispatchImpl<IevFdtParameterInfo> {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<TestDtm, IevFdtTranslation>(),
        com::entry<TestDtm, IevFdtDtmTranslation>(),
        com::entry<TestDtm, IevFdtTranslationEvent>(),
        com::entry<TestDtm, IevFDT_AboutInformations>(),
        com::entry<TestDtm, IevFdtParameterInfo>(),
        com::endOfMap()};
    return map;
  }

  // What the translation part asks of its DTM.
  void ReportMessage(const char* format, ...);
  HRESULT GetLanguageId(long* id) {
    *id = languageId;
    return S_OK;
  }
  bool HasParameter(ULONG id) { return parameters.count(id) != 0; }

  // IevFdtParameterInfo
  STDMETHODIMP GetCount(VARIANT* count) override;
  STDMETHODIMP GetParameterId(VARIANT index, VARIANT* id) override;
  STDMETHODIMP GetParameterInfo(VARIANT id, VARIANT selector, VARIANT* value) override;
  STDMETHODIMP SetParameterInfo(VARIANT id, VARIANT selector, VARIANT value) override;

  long languageId = 0x400;
  std::map<ULONG, TestParameter> parameters;
  std::vector<std::string> reports;
};

// A new test DTM (one reference, released by the holder).
com::ComPtr<IUnknown> CreateTestDtm(TestDtm** object);
