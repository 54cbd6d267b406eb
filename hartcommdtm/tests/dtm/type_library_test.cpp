// The DTM in a process that holds none of the type libraries its threads
// marshal through, as in a frame application's process: the DTM's module
// holds them itself. This program registers the libraries and lets them go
// (the other DTM test programs keep theirs loaded for their whole run).
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dtm/dtm_ids.h"
#include "hart_dtm_fixture.h"
#include "process_counts.h"
#include "toolkit/dtm/dtm_events.h"
#include "toolkit/dtm/dtm_states.h"
#include "type_libraries.h"
#include "win32/unique_handle.h"

namespace hartdtmtest {
namespace {

// The FDT stand-in library's identifier (FdtLib), and the DTM's own
// library as a file of its own (the build's, beside the program).
constexpr wchar_t kFdtLibraryId[] = L"{731B13F9-57AB-4D6C-AD5D-68A7E2CAA874}";
constexpr wchar_t kDtmLibraryFile[] = L"hartcommdtm_types.tlb";

class TypeLibraryTest : public BoundAdapterFixture {
 public:
  // As the fixture's, but nothing in this program keeps a library loaded.
  static void SetUpTestSuite() {
    ASSERT_TRUE(testsupport::RegisterTypeLibraryReleased(ProgramFolder() + L"fdtlib.tlb"));
    ASSERT_EQ(0u, RunRegsvr32(L"/s"));
  }

 protected:
  // The library at `file` registered from a copy of its own (`copy`, in the
  // program's folder), which the case may spoil; the next case registers
  // the libraries again.
  static void RegisterCopy(const wchar_t* file, const wchar_t* copy) {
    const std::wstring from = ProgramFolder() + file, to = ProgramFolder() + copy;
    ASSERT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE)) << ::GetLastError();
    ASSERT_TRUE(testsupport::RegisterTypeLibraryReleased(to));
  }

  // The file no longer holds a type library: a library read from it before
  // can only be had again while it is still loaded. (A lock would not do:
  // Wine opens the file without sharing before it looks in its cache.)
  // Any thread that loads a library opens its file for a moment, also one
  // the cache already holds, so a thread of the last DTM still ending may
  // have it open: the file is spoiled once it is let go.
  static void Spoil(const wchar_t* copy) {
    win32::UniqueFile file;
    DWORD error = ERROR_SUCCESS;
    PumpUntil([&] {
      file.reset(::CreateFileW((ProgramFolder() + copy).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
      error = ::GetLastError();
      return file.get() != INVALID_HANDLE_VALUE || error != ERROR_SHARING_VIOLATION;
    });
    ASSERT_NE(INVALID_HANDLE_VALUE, file.get()) << error;
    const char text[] = "no type library";
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.get(), text, sizeof text, &written, nullptr));
  }

  // The library is in the platform's cache (its file is spoiled).
  static bool Cached(const GUID& libid) {
    ITypeLib* library = nullptr;
    const HRESULT hr = ::LoadRegTypeLib(libid, 1, 0, 0, &library);
    if (library) library->Release();
    return SUCCEEDED(hr);
  }

  // Why the module is still loaded, for a failure message.
  static std::string StillLoaded() {
    const HMODULE module = ::GetModuleHandleW(hart_dtm::kModuleFileName);
    if (!module) return "the module is gone";
    using CanUnload = HRESULT(WINAPI*)();
    const auto canUnload = reinterpret_cast<CanUnload>(
        reinterpret_cast<void*>(::GetProcAddress(module, "DllCanUnloadNow")));
    const HRESULT answer = canUnload ? canUnload() : E_NOINTERFACE;
    return "DllCanUnloadNow answers " + std::to_string(answer) + " with " +
           std::to_string(testsupport::CountProcess().threads) + " threads running";
  }

  // True once the process runs no more threads than `threads`.
  static bool ThreadsEnd(DWORD threads) {
    return PumpUntil([&] { return testsupport::CountProcess().threads <= threads; });
  }

  // Notices through the DTM's worker (a user message) and through notice
  // workers of their own, one after the other (two progress notices) and
  // side by side (the five control messages, each on its thread at once).
  void GiveNotices() {
    com::ComPtr<IevFdtDtmEvents> events;
    ASSERT_EQ(S_OK, object.as(events));
    events->OnDtmEvent(*com::ui4(dtm_event::kUserMessage).get(), *com::Variant(L"a notice").get());
    for (ULONG code = dtm_event::kFirstStateNotice; code <= dtm_event::kLastStateNotice; ++code)
      events->OnDtmEvent(*com::ui4(code).get(), *com::Variant().get());
    for (SHORT percent : {0, 50}) {
      SAFEARRAYBOUND bound{3, 0};
      com::Variant progress;
      V_VT(progress.get()) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(progress.get()) = ::SafeArrayCreate(VT_VARIANT, 1, &bound);
      ASSERT_NE(nullptr, V_ARRAY(progress.get()));
      com::Variant elements[3] = {com::Variant(), com::Variant(L"progress"), com::Variant(percent != 0)};
      V_VT(elements[0].get()) = VT_I2;
      V_I2(elements[0].get()) = percent;
      for (LONG i = 0; i < 3; ++i)
        ASSERT_EQ(S_OK, ::SafeArrayPutElement(V_ARRAY(progress.get()), &i, elements[i].get()));
      events->OnDtmEvent(*com::ui4(dtm_event::kProgressArray).get(), *progress.get());
    }
  }

  // Configured, given notices, (online on the simulated adapter and
  // offline again,) shut down and released; the module stays loaded.
  void RunOneInstance(int instance, bool online) {
    SCOPED_TRACE(instance);
    Configure();
    GiveNotices();
    if (online) {
      ASSERT_NO_FATAL_FAILURE(OnlineAndBack());
    }
    ASSERT_NO_FATAL_FAILURE(ShutDown());
    ReleaseDtm();
  }

  // The data set of a configured DTM as its stream holds it.
  std::vector<BYTE> SavedDataSet() {
    std::vector<BYTE> bytes;
    Configure();
    com::ComPtr<IPersistStreamInit> persist;
    EXPECT_EQ(S_OK, object.as(persist));
    com::ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    if (!persist || !stream || persist->Save(stream.get(), TRUE) != S_OK) return bytes;
    STATSTG stat = {};
    EXPECT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    bytes.resize(stat.cbSize.LowPart);
    LARGE_INTEGER start = {};
    EXPECT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
    ULONG read = 0;
    EXPECT_EQ(S_OK, stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read));
    bytes.resize(read);
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(S_OK, dtm->ShutdownDtm(&ok));
    ReleaseDtm();
    return bytes;
  }

  // Instance i's stream: one in four whole, the others cut short (about
  // three quarters in many of them), with bits flipped, or both.
  static std::vector<BYTE> Damaged(const std::vector<BYTE>& saved, int i) {
    std::vector<BYTE> bytes = saved;
    uint32_t random = 2654435761u * static_cast<uint32_t>(i + 1);
    auto next = [&random] {
      random = random * 1664525u + 1013904223u;
      return random >> 8;
    };
    const int kind = i % 4;
    if (kind == 1 || kind == 3) {
      const size_t cut = i % 8 == 1 ? bytes.size() * 3 / 4 : next() % bytes.size();
      bytes.resize(cut);
    }
    if ((kind == 2 || kind == 3) && !bytes.empty()) {
      for (int flips = 1 + static_cast<int>(next() % 3); flips > 0; --flips)
        bytes[next() % bytes.size()] ^= static_cast<BYTE>(1u << (next() % 8));
    }
    return bytes;
  }

  // A frame's life with one DTM whose data set may be damaged: created,
  // loaded, and then either given up at once (prepared to release and
  // released, as a frame does with a data set it cannot use) or attached,
  // configured, given notices, and released with or without shutting it
  // down; a DTM released without shutdown ends its threads while the next
  // one starts its own.
  void RunDamagedInstance(int i, const std::vector<BYTE>& saved) {
    SCOPED_TRACE(i);
    Create();
    if (HasFatalFailure()) return;
    com::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(S_OK, object.as(persist));
    const std::vector<BYTE> bytes = Damaged(saved, i);
    com::ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
    if (!bytes.empty()) {
      ASSERT_EQ(S_OK, stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
    }
    LARGE_INTEGER start = {};
    ASSERT_EQ(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
    const HRESULT loaded = persist->Load(stream.get());
    ASSERT_TRUE(loaded == S_OK || loaded == S_FALSE) << std::hex << loaded;
    if (i % 4 == 0) {
      EXPECT_EQ(S_OK, loaded) << "an intact data set is refused";
    }
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (loaded != S_OK && i % 2 == 0) {
      EXPECT_EQ(S_FALSE, dtm->ShutdownDtm(&ok));
      ReleaseDtm();
      return;
    }
    if (loaded != S_OK) {
      ASSERT_EQ(S_OK, persist->InitNew());
    }
    persist.reset();
    ASSERT_EQ(S_OK, dtm->SetEnvironment(tag.get(), frameObject.get(), &ok));
    if (ok == VARIANT_TRUE) {
      if (State() == kDtmEnvironmentSet) {
        com::Bstr deviceType(DeviceTypeDocument(L"FSK Mavix").c_str());
        dtm->InitNewDeviceType(deviceType.get(), &ok);
      }
      com::Bstr user(UserInformation(L"maintenance").c_str());
      dtm->Config(user.get(), &ok);
      GiveNotices();
      if (HasFatalFailure()) return;
    }
    if (i % 3 != 0) {
      const HRESULT shutdown = dtm->ShutdownDtm(&ok);
      EXPECT_TRUE(shutdown == S_OK || shutdown == S_FALSE) << std::hex << shutdown;
    }
    ReleaseDtm();
  }
};

// DTMs one after the other, each with its worker, notice workers and (every
// other one) its channel's worker, in a process that holds no library: the
// FDT library and the DTM's own are read once, when the first DTM is made,
// and stay loaded while the module is. Both files are spoiled after the
// first DTM, so a library that was freed and is needed again cannot be
// read any more.
TEST_F(TypeLibraryTest, EachLibraryIsReadOnceForAllTheDtmsOfTheProcess) {
  const GUID fdtLibrary = Iid(kFdtLibraryId);
  RegisterCopy(L"fdtlib.tlb", L"fdtlib_once.tlb");
  RegisterCopy(kDtmLibraryFile, L"hartcommdtm_once.tlb");
  if (HasFatalFailure()) return;
  BindDeviceNumber(0);
  RunOneInstance(0, true);
  if (HasFatalFailure()) return;
  PumpUntil([] { return false; }, 500);  // Wine's own threads settle
  const DWORD threads = testsupport::CountProcess().threads;

  Spoil(L"fdtlib_once.tlb");
  Spoil(L"hartcommdtm_once.tlb");
  if (HasFatalFailure()) return;
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(ThreadsEnd(threads)) << testsupport::CountProcess().threads << " threads, " << threads << " before";
    EXPECT_TRUE(Cached(fdtLibrary)) << "the FDT library was freed";
    EXPECT_TRUE(Cached(LIBID_evHART_COMMDTMLib)) << "the DTM's library was freed";
    RunOneInstance(i, i % 2 == 0);
    if (HasFatalFailure()) return;
  }
  ASSERT_TRUE(ThreadsEnd(threads));
  EXPECT_TRUE(Cached(fdtLibrary));
  EXPECT_TRUE(Cached(LIBID_evHART_COMMDTMLib));
}

// The libraries are the module's only while it may be used: once
// DllCanUnloadNow has let it go, neither is held any more (their files are
// spoiled, so a library still held is the only one to be had).
TEST_F(TypeLibraryTest, NeitherLibraryIsHeldOnceTheModuleUnloads) {
  const GUID fdtLibrary = Iid(kFdtLibraryId);
  RegisterCopy(L"fdtlib.tlb", L"fdtlib_unload.tlb");
  RegisterCopy(kDtmLibraryFile, L"hartcommdtm_unload.tlb");
  if (HasFatalFailure()) return;
  RunOneInstance(0, false);
  if (HasFatalFailure()) return;
  Spoil(L"fdtlib_unload.tlb");
  Spoil(L"hartcommdtm_unload.tlb");
  if (HasFatalFailure()) return;
  ASSERT_TRUE(Cached(fdtLibrary));
  ASSERT_TRUE(Cached(LIBID_evHART_COMMDTMLib));
  ASSERT_TRUE(ModuleUnloads()) << StillLoaded();
  EXPECT_FALSE(Cached(fdtLibrary)) << "the FDT library is still held";
  EXPECT_FALSE(Cached(LIBID_evHART_COMMDTMLib)) << "the DTM's library is still held";
}

// Hundreds of DTMs come and go in one process that holds no library, most
// of them loaded from damaged data sets, while the threads of the one
// before still end: no thread faults (the runner fails the case on any
// processor fault, also one a handler caught), and in the end every DTM,
// thread and the module are gone.
//
// A fault from a library freed while a proxy is made from it (what the
// module's hold of the libraries prevents) shows here only now and then:
// the race is Wine's and narrow. So the case also checks the hold itself,
// as the read-once case does: the libraries' files are spoiled after the
// first DTM, and every DTM after it finds them still loaded, or could not
// marshal its interfaces at all.
TEST_F(TypeLibraryTest, HundredsOfDtmsFromDamagedDataSetsComeAndGoWithoutAFault) {
  constexpr int kInstances = 300;
  const GUID fdtLibrary = Iid(kFdtLibraryId);
  RegisterCopy(L"fdtlib.tlb", L"fdtlib_stress.tlb");
  RegisterCopy(kDtmLibraryFile, L"hartcommdtm_stress.tlb");
  if (HasFatalFailure()) return;
  const std::vector<BYTE> saved = SavedDataSet();
  ASSERT_GT(saved.size(), 100u);
  Spoil(L"fdtlib_stress.tlb");
  Spoil(L"hartcommdtm_stress.tlb");
  if (HasFatalFailure()) return;
  // The frame's interfaces too cross to the DTM's threads through proxies.
  frame->setAgile(false);
  for (int i = 0; i < kInstances; ++i) {
    if (i % 50 == 0) {
      ASSERT_TRUE(Cached(fdtLibrary)) << i << ": the FDT library was freed";
      ASSERT_TRUE(Cached(LIBID_evHART_COMMDTMLib)) << i << ": the DTM's library was freed";
    }
    RunDamagedInstance(i, saved);
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(ModuleUnloads());
}

}  // namespace
}  // namespace hartdtmtest
