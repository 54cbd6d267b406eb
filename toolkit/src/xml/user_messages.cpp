// User messages shown through the frame's IFrameUserDialog (see
// toolkit/xml/user_messages.h).
#include "toolkit/xml/user_messages.h"

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "fdt.h"
#include "toolkit/values/fdt_variant.h"
#include "toolkit/values/text_helpers.h"
#include "toolkit/xml/xml_dom.h"
#include "toolkit/xml/xml_handler.h"

namespace {

// The request document; placeholders: message type, buttons, default button,
// title, text. The blanks and tabs are part of the text the frame receives.
const wchar_t kUserMessageRequest[] =
    L"<?xml version=\"1.0\"?> <FDT \txmlns=\"x-schema:FDTUserMessageSchema.xml\" "
    L"\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<FDTUserMessage \t\tmessageType=\"%s\" "
    L"\t\tmessageButtons=\"%s\" \t\tmessageDefault=\"%s\" \t\ttitle=\"%s\"> \t\t\t<TextLine fdt:string=\"%s\"/> "
    L"\t</FDTUserMessage> </FDT>";

const wchar_t kResultMessageQuery[] = L".//@resultMessage";

// Button sets (style bits 0-3).
enum ButtonSet : ULONG { kOk = 0, kOkCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kYesNo = 4, kRetryCancel = 5 };

struct ButtonSetTexts {
  const wchar_t* buttons;
  // Default button names and answers: first, second, third.
  const wchar_t* defaults[3];
  long answers[3];
};

// Index: button set 0-5. A default beyond the set's buttons is its first.
const ButtonSetTexts kButtonSets[] = {
    {L"buttonsOk", {L"buttonOk", L"buttonOk", L"buttonOk"}, {IDOK, IDOK, IDOK}},
    {L"buttonsOkCancel", {L"buttonOk", L"buttonCancel", L"buttonOk"}, {IDOK, IDCANCEL, IDOK}},
    {L"buttonsAbortRetryIgnore", {L"buttonAbort", L"buttonRetry", L"buttonIgnore"}, {IDABORT, IDRETRY, IDIGNORE}},
    {L"buttonsYesNoCancel", {L"buttonYes", L"buttonNo", L"buttonCancel"}, {IDYES, IDNO, IDCANCEL}},
    {L"buttonsYesNo", {L"buttonYes", L"buttonNo", L"buttonYes"}, {IDYES, IDNO, IDYES}},
    {L"buttonsRetryCancel", {L"buttonRetry", L"buttonCancel", L"buttonRetry"}, {IDRETRY, IDCANCEL, IDRETRY}},
};

// Answer names in the order they are compared.
const struct {
  const wchar_t* name;
  long answer;
} kAnswers[] = {
    {L"buttonAbort", IDABORT}, {L"buttonRetry", IDRETRY}, {L"buttonIgnore", IDIGNORE}, {L"buttonOk", IDOK},
    {L"buttonCancel", IDCANCEL}, {L"buttonYes", IDYES},   {L"buttonNo", IDNO},
};

const ButtonSetTexts& SetOf(ULONG style) {
  ULONG set = style & 0xF;
  return kButtonSets[set <= kRetryCancel ? set : kOk];
}

int DefaultIndex(ULONG style) {
  switch (style & 0xF00) {
    case 0x100: return 1;
    case 0x200: return 2;
    default: return 0;
  }
}

}  // namespace

UserMessageAttributes BuildUserMessageAttributes(ULONG style) {
  UserMessageAttributes attributes;
  switch (style & 0xF0) {
    case 0x10: attributes.messageType = L"messageStop"; break;
    case 0x20: attributes.messageType = L"messageQuestion"; break;
    case 0x30: attributes.messageType = L"messageExclamation"; break;
    default: attributes.messageType = L"messageInformation"; break;
  }
  const ButtonSetTexts& set = SetOf(style);
  attributes.buttons = set.buttons;
  attributes.defaultButton = set.defaults[DefaultIndex(style)];
  return attributes;
}

long DefaultAnswerOfStyle(ULONG style) { return SetOf(style).answers[DefaultIndex(style)]; }

long ResultButtonFromName(const wchar_t* name) {
  if (!name) return 0;
  for (const auto& entry : kAnswers) {
    if (wcscmp(entry.name, name) == 0) return entry.answer;
  }
  return 0;
}

HRESULT BuildUserMessageRequest(const wchar_t* text, const wchar_t* title, ULONG style, BSTR* request) {
  if (!request) return E_POINTER;
  *request = nullptr;
  com::Bstr escapedTitle, escapedText;
  HRESULT hr = EscapeXmlText(title, escapedTitle.put());
  if (FAILED(hr)) return hr;
  hr = EscapeXmlText(text, escapedText.put());
  if (FAILED(hr)) return hr;
  UserMessageAttributes attributes = BuildUserMessageAttributes(style);
  return FormatBstr(request, kUserMessageRequest, attributes.messageType, attributes.buttons,
                    attributes.defaultButton, escapedTitle.c_str(), escapedText.c_str());
}

HRESULT ShowUserMessage(const UserMessageRoute& route, const wchar_t* text, const wchar_t* title,
                        const VARIANT& style, long* answer) {
  if (!answer) return E_POINTER;
  ULONG flags = 0;
  HRESULT hr = CFdtVariant::GetUI4(style, &flags);
  if (FAILED(hr)) return hr;
  *answer = DefaultAnswerOfStyle(flags);

  // From here on every failure leaves the default answer: S_FALSE.
  if (!route.frameApplication) return S_FALSE;
  com::ComPtr<IFrameUserDialog> dialog;
  if (FAILED(dialog.queryFrom(route.frameApplication)) || !dialog) return S_FALSE;
  com::Bstr request;
  if (FAILED(BuildUserMessageRequest(text, title, flags, request.put()))) return S_FALSE;
  com::Bstr systemTag;
  if (!route.systemTag || FAILED(route.systemTag(systemTag.put()))) return S_FALSE;
  com::Bstr frameAnswer;
  if (FAILED(dialog->UserDialog(systemTag.get(), request.get(), frameAnswer.put()))) return S_FALSE;

  if (!route.xml) return S_FALSE;
  com::ComPtr<IXMLDOMDocument2> doc;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(route.xml->LoadXMLDocument(frameAnswer.c_str(), doc.put(), &loaded)) || !loaded || !doc) return S_FALSE;
  com::ComPtr<IXMLDOMNode> result;
  if (FAILED(doc->selectSingleNode(com::Bstr(kResultMessageQuery).get(), result.put())) || !result) return S_FALSE;
  com::Variant value;
  if (FAILED(result->get_nodeValue(value.get())) || value.type() != VT_BSTR) return S_FALSE;
  *answer = ResultButtonFromName(V_BSTR(value.get()));
  return S_OK;
}
