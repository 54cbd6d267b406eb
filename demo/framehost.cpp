// framehost: a small frame application of our own around the HART
// communication DTM. It creates the DTM by its ProgID from the registered
// module, takes it through its new data set (which makes its HART
// channel), environment and configuration to online, takes the channel from
// the DTM (IDtmChannel, item 1) on the device number it was given, scans polling addresses 0 to 15 through IHART_Channel and
// lists the devices found; then a device-DTM stand-in connects to the first
// of them through the channel and shows its command 0 answer.
//   framehost [device-number]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "com/Bstr.h"
#include "com/ComPtr.h"
#include "com/Variant.h"
#include "device_dtm.h"
#include "fdt.h"
#include "frame_notices.h"
#include "hartcommdtm.h"
#include "toolkit.h"

namespace {

const wchar_t kDtmProgId[] = L"vtFDT.FSKMavixCommDTM";
const wchar_t kHartProtocol[] = L"{036D1498-387B-11D4-86E1-00E0987270B9}";
const wchar_t kHartHead[] =
    L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
const wchar_t* const kStates[] = {L"created", L"constructed", L"preparedToDelete", L"released",
                                  L"newDataSet", L"loadedDataSet", L"environmentSet", L"initialised",
                                  L"configured", L"communicationSet", L"goingOnline", L"goingOffline",
                                  L"online"};

int Fail(const char* step, HRESULT hr) {
  std::printf("FAILED: %s (0x%08lX)\n", step, static_cast<unsigned long>(hr));
  return 1;
}

// Registers the frame interfaces' type library embedded in this program, so
// that the DTM's worker threads can reach the frame.
void RegisterTypeLibraries() {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ITypeLib* library = nullptr;
  if (SUCCEEDED(::LoadTypeLibEx(exe, REGKIND_REGISTER, &library))) library->Release();
  std::wstring second = std::wstring(exe) + L"\\2";
  if (SUCCEEDED(::LoadTypeLibEx(second.c_str(), REGKIND_NONE, &library))) {
    ::RegisterTypeLib(library, &second[0], nullptr);
    library->Release();
  }
}

const wchar_t* StateName(IevFdtBaseDTM* base) {
  long state = -1;
  base->GetDtmState(&state);
  return state >= 0 && state <= 12 ? kStates[state] : L"?";
}

std::wstring Attribute(const std::wstring& doc, const wchar_t* name) {
  const std::wstring key = std::wstring(name) + L"=\"";
  const size_t at = doc.find(key);
  if (at == std::wstring::npos) return L"";
  const size_t end = doc.find(L'"', at + key.size());
  return doc.substr(at + key.size(), end - at - key.size());
}

std::wstring InvokeId(unsigned n) {
  wchar_t text[64];
  std::swprintf(text, 64, L"{%08X-0000-4000-8000-00000000D3E0}", n);
  return text;
}

// Serves this apartment's messages until the DTM reaches the state (the
// channel moves it online from its worker) or the wait runs out.
bool WaitForState(IevFdtBaseDTM* base, long wanted, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    long state = -1;
    base->GetDtmState(&state);
    if (state == wanted) return true;
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// The DTM's HART channel: item 1 of the collection its IDtmChannel hands
// out (from state initialised on).
HRESULT DtmChannel(IUnknown* dtm, IevFdtBaseChannel** channel) {
  com::ComPtr<IDtmChannel> channels;
  com::ComPtr<IFdtChannelCollection> collection;
  HRESULT hr = channels.queryFrom(dtm);
  if (FAILED(hr)) return hr;
  hr = channels->GetChannelCollection(collection.put());
  if (hr != S_OK) return FAILED(hr) ? hr : E_UNEXPECTED;
  if (!collection) return E_POINTER;
  com::Variant index;
  index.get()->vt = VT_I4;
  index.get()->lVal = 1;
  com::ComPtr<IDispatch> item;
  hr = collection->get_Item(index.get(), item.put());
  if (FAILED(hr)) return hr;
  if (!item) return E_POINTER;
  return item->QueryInterface(__uuidof(IevFdtBaseChannel), reinterpret_cast<void**>(channel));
}

// Waits for the device DTM's `count`-th answer.
bool WaitAnswer(devicedtm_double::DeviceDtm* dtm, size_t count, std::wstring* document) {
  if (!dtm->waitForAnswers(count, 30000)) return false;
  *document = dtm->answers()[count - 1].document;
  return true;
}

int Run(uint8_t deviceNumber) {
  RegisterTypeLibraries();
  frame_double::NoticeFrame* frame = nullptr;
  com::ComPtr<IUnknown> frameObject = frame_double::createNoticeFrame(&frame);
  if (!frameObject) return Fail("frame", E_OUTOFMEMORY);
  frame->setAgile(true);

  // The DTM, by ProgID from the registered module.
  CLSID clsid = {};
  HRESULT hr = ::CLSIDFromProgID(kDtmProgId, &clsid);
  if (FAILED(hr)) return Fail("the DTM is not registered", hr);
  com::ComPtr<IUnknown> object;
  hr = object.createInstance(clsid, nullptr, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) return Fail("create the DTM", hr);
  com::ComPtr<IDtm> dtm;
  com::ComPtr<IevFdtBaseDTM> base;
  com::ComPtr<IevFdtParameterHandler4> parameters;
  if (FAILED(hr = object.as(dtm)) || FAILED(hr = object.as(base)) || FAILED(hr = object.as(parameters)))
    return Fail("DTM interfaces", hr);
  std::printf("DTM %ls created (%ls)\n", kDtmProgId, StateName(base.get()));

  VARIANT_BOOL ok = VARIANT_FALSE;
  com::Bstr systemTag(L"DEMO-HART-DTM");
  com::Bstr deviceType(
      L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMInitSchema.xml\" "
      L"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:DtmDeviceType><fdt:VersionInformation "
      L"name=\"FSK Mavix\" vendor=\"VELTRA\" version=\"1.0.0\" date=\"2013-09-30\"/></fdt:DtmDeviceType></FDT>");
  com::Bstr user(L"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\">"
                 L"<FDTUserInformation userLevel=\"planningEngineer\" /></FDT>");
  com::ComPtr<IPersistStreamInit> persist;
  if (FAILED(hr = object.as(persist)) || (hr = persist->InitNew()) != S_OK)
    return Fail("new data set", FAILED(hr) ? hr : E_FAIL);
  if (FAILED(hr = dtm->SetEnvironment(systemTag.get(), frameObject.get(), &ok)) || !ok)
    return Fail("SetEnvironment", hr);
  if (FAILED(hr = dtm->InitNewDeviceType(deviceType.get(), &ok)) || !ok) return Fail("InitNewDeviceType", hr);
  if (FAILED(hr = dtm->Config(user.get(), &ok)) || !ok) return Fail("Config", hr);
  std::printf("DTM environment set and configured (%ls)\n", StateName(base.get()));

  // The channel reads its device number from the DTM's parameter 1000.
  com::Variant key, number;
  key.get()->vt = VT_UI4;
  key.get()->ulVal = 1000;
  number.get()->vt = VT_UI1;
  number.get()->bVal = deviceNumber;
  if (FAILED(hr = parameters->WriteParameter(key.value(), number.value())))
    return Fail("write the device number", hr);
  std::printf("Channel configured for device number %u\n", static_cast<unsigned>(deviceNumber));
  hr = dtm->SetCommunication(nullptr, &ok);
  if (SUCCEEDED(hr) && ok) {
    // Going online opens the adapter in the DTM's channel.
    WaitForState(base.get(), 12, 30000);
    std::printf("DTM communication set (%ls)\n", StateName(base.get()));
  } else {
    // The channel works for its DTM all the same; say what the DTM answered.
    frame->waitForCalls("OnErrorMessage", 1, 5000);
    std::printf("DTM communication not set (%ls)", StateName(base.get()));
    for (const auto& call : frame->callsTo("OnErrorMessage"))
      std::printf(": %ls", call.arguments.size() > 1 ? call.arguments[1].c_str() : L"");
    std::printf("\n");
  }

  // The DTM's HART channel, owned by the DTM and attached by it to the frame.
  com::ComPtr<IevFdtBaseChannel> channel;
  if (FAILED(hr = DtmChannel(object.get(), channel.put()))) return Fail("the DTM's channel (IDtmChannel item 1)", hr);
  std::printf("Channel taken from the DTM (IDtmChannel item 1)\n");
  // Already running when the DTM went online; otherwise this opens the adapter.
  if (FAILED(hr = channel->StartWorker())) return Fail("start the channel (adapter open)", hr);
  com::ComPtr<IHART_Channel> hart;
  com::ComPtr<IFdtCommunication> communication;
  if (FAILED(hr = channel.as(hart)) || FAILED(hr = channel.as(communication))) return Fail("channel interfaces", hr);
  std::printf("Channel online: adapter of device number %u opened\n", static_cast<unsigned>(deviceNumber));

  // The bus scan.
  std::printf("\n== Bus scan of polling addresses 0 to 15 through IHART_Channel\n");
  const DWORD start = ::GetTickCount();
  if (FAILED(hr = hart->StartScan())) return Fail("StartScan", hr);
  long finished = 0, count = 0;
  for (int i = 0; i < 1200 && !finished; ++i) hart->IsScanFinished(&finished, &count);
  if (!finished) return Fail("the scan did not finish", E_FAIL);
  std::printf("Scan finished in %.1f s: %ld device(s)\n", (::GetTickCount() - start) / 1000.0, count);
  std::printf("  addr  manufacturer  device type  device id  hw  sw  tag\n");
  unsigned char firstAddress = 0xFF;
  for (long i = 0; i < count; ++i) {
    unsigned char address = 0, type = 0, hw = 0, sw = 0;
    long inUse = 0, id = 0;
    com::Bstr tag, manufacturer, typeText;
    if (FAILED(hart->GetDeviceInfo(i, &address, &inUse, tag.put(), manufacturer.put(), typeText.put(), &type, &id,
                                   &hw, &sw)))
      continue;
    if (firstAddress == 0xFF) firstAddress = address;
    std::printf("  %4u  %-12ls  0x%02X         0x%06lX   %2u  %2u  \"%ls\"\n", address, manufacturer.c_str(), type,
                static_cast<unsigned long>(id), hw, sw, tag.get() ? tag.c_str() : L"");
  }
  if (firstAddress == 0xFF) return Fail("no device to connect to", E_FAIL);

  // A device DTM connects to the first device found and sends command 0.
  std::printf("\n== A device DTM connects to polling address %u and sends command 0\n", firstAddress);
  devicedtm_double::DeviceDtm* deviceDtm = nullptr;
  com::ComPtr<IChildCommunicationEvents> callback = devicedtm_double::createDeviceDtm(&deviceDtm);
  deviceDtm->setFdt121(false);
  com::Bstr connectId(InvokeId(1).c_str()), protocol(kHartProtocol);
  com::Bstr connect((std::wstring(kHartHead) + L"<ConnectRequest fdt:tag=\"DEVICE\" fdt:systemTag=\"DEV-1\">"
                     L"<ShortAddress shortAddress=\"" + std::to_wstring(firstAddress) +
                     L"\"/></ConnectRequest></FDT>").c_str());
  VARIANT_BOOL queued = VARIANT_FALSE;
  hr = communication->ConnectRequest(callback.get(), connectId.get(), protocol.get(), connect.get(), &queued);
  std::wstring answer;
  if (FAILED(hr) || !queued || !WaitAnswer(deviceDtm, 1, &answer)) return Fail("connect", FAILED(hr) ? hr : E_FAIL);
  const std::wstring reference = Attribute(answer, L"communicationReference");
  if (reference.empty()) return Fail("connect answered without a connection", E_FAIL);
  std::printf("Connected: long address manufacturer %ls, device type %ls, id %ls %ls %ls\n",
              Attribute(answer, L"manufacturerId").c_str(), Attribute(answer, L"deviceTypeId").c_str(),
              Attribute(answer, L"address1").c_str(), Attribute(answer, L"address2").c_str(),
              Attribute(answer, L"address3").c_str());
  com::Bstr transactId(InvokeId(2).c_str());
  com::Bstr exchange((std::wstring(kHartHead) + L"<DataExchangeRequest commandNumber=\"0\" communicationReference=\"" +
                      reference + L"\"/></FDT>").c_str());
  hr = communication->TransactionRequest(transactId.get(), exchange.get(), &queued);
  if (FAILED(hr) || !queued || !WaitAnswer(deviceDtm, 2, &answer)) return Fail("command 0", FAILED(hr) ? hr : E_FAIL);
  std::printf("Command 0 answer: response code %ls, device status %ls\n", Attribute(answer, L"value").c_str(),
              Attribute(answer, L"deviceStatus").c_str());
  std::printf("  data bytes %ls\n", Attribute(answer, L"byteArray").c_str());

  com::Bstr disconnectId(InvokeId(3).c_str());
  com::Bstr disconnect((std::wstring(kHartHead) + L"<DisconnectRequest communicationReference=\"" + reference +
                        L"\"/></FDT>").c_str());
  hr = communication->DisconnectRequest(disconnectId.get(), disconnect.get(), &queued);
  if (SUCCEEDED(hr) && queued && WaitAnswer(deviceDtm, 3, &answer)) std::printf("Disconnected\n");

  VARIANT_BOOL stopped = VARIANT_FALSE;
  channel->StopWorker(&stopped);
  dtm->ShutdownDtm(&ok);
  std::printf("Channel closed, DTM shut down\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const uint8_t deviceNumber = argc > 1 ? static_cast<uint8_t>(std::atoi(argv[1])) : 0;
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  const int result = Run(deviceNumber);
  ::CoUninitialize();
  return result;
}
