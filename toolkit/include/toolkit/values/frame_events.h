// Calls into the frame's event sinks: IFrameDtmEvents, IFrameDtmEvents2,
// IFrameScanEvents, IFrameAuditTrailEvents and IDeviceDataAccessEvents.
//
// All of them are dispatch interfaces. Frames implement them as IDispatch
// alone and register them with the dispatch proxy, so a notice must go
// through IDispatch::Invoke with its dispatch id; a call through a vtable
// slot beyond IDispatch reaches whatever the frame has there. Everything in
// the toolkit that notifies the frame goes through these helpers:
//
//   com::ComPtr<IDispatch> sink;
//   frame_events::QuerySink(frame, DIID_IFrameDtmEvents, sink);
//   frame_events::Notify(sink.get(), frame_events::kErrorMessage, tag.get(), text.get());
//   VARIANT_BOOL answer;
//   frame_events::Ask(audit.get(), frame_events::kStartTransaction, tag.get(), &answer);
//
// A sink is asked for, and handed between apartments, only under its own
// dispatch interface identifier, never as IID_IDispatch: a frame's sink is
// often an object apart from the frame, or a part of it whose identity is
// the frame's container, and under IID_IDispatch COM serves the identity's
// primary IDispatch, where the dispatch ids mean the container's methods.
// A thread of another apartment (the DTM's worker, a notice worker, a
// channel's worker) gets the sink through OfferSink in the frame's
// apartment and com::GlobalInterface::take under the same identifier in
// its own; the frame application registers these identifiers with the
// dispatch proxy (its FDT type library does).
//
// Texts are BSTRs (com::Bstr::get()); they are only read. A null sink
// answers E_POINTER; an exception the frame raised answers its own code.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "com/ComPtr.h"
#include "com/GlobalInterface.h"

namespace frame_events {

// IFrameDtmEvents (7 is not used).
constexpr DISPID kParameterChanged = 1;                // (system tag, document)
constexpr DISPID kErrorMessage = 2;                    // (system tag, text)
constexpr DISPID kProgress = 3;                        // see Progress
constexpr DISPID kUploadFinished = 4;                  // (invoke id, success)
constexpr DISPID kDownloadFinished = 5;                // (invoke id, success)
constexpr DISPID kApplicationClosed = 6;               // (invoke id)
constexpr DISPID kFunctionChanged = 8;                 // (system tag)
constexpr DISPID kChannelFunctionChanged = 9;          // (system tag, channel path)
constexpr DISPID kPrint = 10;                          // (system tag, function call)
constexpr DISPID kNavigation = 11;                     // (system tag)
constexpr DISPID kOnlineStateChanged = 12;             // (system tag, online)
constexpr DISPID kPreparedToRelease = 13;              // (system tag)
constexpr DISPID kPreparedToReleaseCommunication = 14; // (system tag)
constexpr DISPID kInvokedFunctionFinished = 15;        // (invoke id, success)
constexpr DISPID kScanResponse = 16;                   // (invoke id, response)

// IFrameDtmEvents2
constexpr DISPID kStateChanged = 1;  // (system tag, state document)

// IFrameScanEvents
constexpr DISPID kScanResult = 1;  // (invoke id, scan identifications)

// IFrameAuditTrailEvents
constexpr DISPID kStartTransaction = 1;  // (system tag) -> yes/no, see Ask
constexpr DISPID kAuditTrailEvent = 2;   // (system tag, log entry)
constexpr DISPID kEndTransaction = 3;    // (system tag) -> yes/no, see Ask

// IDeviceDataAccessEvents
constexpr DISPID kItemListResponse = 1;        // (invoke id, item list)
constexpr DISPID kDeviceItemListChanged = 2;   // (system tag)
constexpr DISPID kReadResponse = 3;            // (invoke id, item values)
constexpr DISPID kWriteResponse = 4;           // (invoke id, item values)

// The frame's sink for a dispatch interface (DIID_IFrameDtmEvents, ...),
// asked for by that interface's identifier. S_FALSE, and a null sink, when
// the frame has none or frame is null.
HRESULT QuerySink(IUnknown* frame, REFIID sinkIid, com::ComPtr<IDispatch>& sink);
// The same sink entered for another apartment of the process under its
// identifier (call in the frame's apartment); the other apartment takes it
// with entry.take or com::GlobalInterface::take(entry.cookie(), sinkIid,
// ...). S_FALSE, and nothing entered, when the frame has no such sink.
HRESULT OfferSink(IUnknown* frame, REFIID sinkIid, com::GlobalInterface& entry);

// A notice with one text.
HRESULT Notify(IDispatch* sink, DISPID id, BSTR text);
// A notice with two texts.
HRESULT Notify(IDispatch* sink, DISPID id, BSTR first, BSTR second);
// A notice with a text and a flag.
HRESULT NotifyFlag(IDispatch* sink, DISPID id, BSTR text, VARIANT_BOOL flag);
// IFrameDtmEvents::OnProgress(system tag, title, percent, show).
HRESULT Progress(IDispatch* sink, BSTR systemTag, BSTR title, short percent, VARIANT_BOOL show);
// A call with one text that answers yes or no. *answer is VARIANT_FALSE
// unless the frame answered a value that converts to true.
HRESULT Ask(IDispatch* sink, DISPID id, BSTR text, VARIANT_BOOL* answer);

}  // namespace frame_events
