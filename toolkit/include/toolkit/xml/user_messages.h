// User messages shown by the frame application, and the toolkit's own
// message texts.
//
// A DTM opens no message box of its own: it sends the frame an FDT
// user-message document through the frame's IFrameUserDialog and reads the
// pressed button from the frame's answer document. The message style is a
// word in the layout of the MessageBox style flags (button set in bits 0-3,
// icon in bits 4-7, default button in bits 8-11); the answer is a dialog
// result (IDOK ... IDNO), 0 for an answer that names no known button.
//
// Toolkit messages are fixed texts with numeric ids, looked up in the
// translation document under localization/ToolkitMessages, with built-in
// English texts (toolkit_messages.cpp) when the document has none.
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include <functional>

class XmlHandlerCore;

// The three attribute texts of a request for a style.
struct UserMessageAttributes {
  const wchar_t* messageType;    // "messageStop", ...
  const wchar_t* buttons;        // "buttonsOk", ...
  const wchar_t* defaultButton;  // "buttonOk", ...
};
UserMessageAttributes BuildUserMessageAttributes(ULONG style);

// The answer code of a button name ("buttonYes" -> IDYES); 0 for any other
// text (compared exactly) or a null one.
long ResultButtonFromName(const wchar_t* name);

// The code of the style's default button, the answer when the frame gives
// none.
long DefaultAnswerOfStyle(ULONG style);

// The user-message request document for the frame; title and text are
// escaped for their attributes.
HRESULT BuildUserMessageRequest(const wchar_t* text, const wchar_t* title, ULONG style, BSTR* request);

// What a user message travels through: the frame application object the DTM
// holds (null without one), the DTM's system tag and the DTM's XML handler,
// which loads the answer (adding the answer's schema on demand).
struct UserMessageRoute {
  IUnknown* frameApplication = nullptr;
  std::function<HRESULT(BSTR*)> systemTag;
  XmlHandlerCore* xml = nullptr;
};

// Shows a user message through the frame and answers the pressed button.
// S_OK when the frame answered with a known document; S_FALSE when no frame
// answer was obtained (*answer then holds the style's default); E_POINTER for
// a null answer pointer; the conversion error when the style does not
// convert to VT_UI4. Blocks the calling thread until the frame returns.
HRESULT ShowUserMessage(const UserMessageRoute& route, const wchar_t* text, const wchar_t* title,
                        const VARIANT& style, long* answer);

// Who asks for a toolkit message: each knows its own built-in texts.
enum class ToolkitMessageUser {
  Dtm,            // the DTM object
  Controls,       // the DTM's controls
  TransferStop,   // the DTM's stop questions of an upload or download
};

// The built-in English text of a toolkit message for that user, or null.
const wchar_t* BuiltInToolkitMessage(ULONG id, ToolkitMessageUser user);

// The toolkit message in the DTM's current language (through the DTM
// object's IevFdtTranslation), else the built-in text, else a null text
// (an empty text for the transfer stop questions). Always S_OK; E_POINTER
// for a null out pointer.
HRESULT GetToolkitMessage(IUnknown* dtm, ULONG id, ToolkitMessageUser user, BSTR* text);
