#include <gtest/gtest.h>

#include <ocidl.h>

#include <new>

#include "com/ComPtr.h"
#include "com/Module.h"
#include "com/Object.h"

namespace {

int g_released = 0;

// Two interfaces, one reached through the other (IPersist via IPersistStream),
// and one answered by a function (IOleWindow, with a fixed failure).
class Sample : public com::ObjectRoot, public IPersistStream, public IServiceProvider {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {
        com::entry<Sample, IPersistStream>(),
        com::entry<Sample, IPersist, IPersistStream>(),
        com::entry<Sample, IServiceProvider>(),
        com::entryQuery(IID_IOleWindow, &refuse),
        com::endOfMap()};
    return map;
  }
  static HRESULT refuse(void*, REFIID, void** out) {
    *out = nullptr;
    return E_ACCESSDENIED;
  }
  void finalRelease() { ++g_released; }

  STDMETHODIMP GetClassID(CLSID* id) override {
    *id = CLSID_NULL;
    return S_OK;
  }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(IStream*) override { return E_NOTIMPL; }
  STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryService(REFGUID, REFIID, void** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }
};

class Broken : public com::ObjectRoot, public IPersist {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<Broken, IPersist>(), com::endOfMap()};
    return map;
  }
  HRESULT finalConstruct() { return E_ABORT; }
  void finalRelease() { ++g_released; }
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

// Takes and drops a reference on itself while it is torn down, as a call
// served during final release would.
class ReentersOnRelease : public com::ObjectRoot, public IPersist {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<ReentersOnRelease, IPersist>(),
                                              com::endOfMap()};
    return map;
  }
  void finalRelease() {
    ++g_released;
    controllingUnknown()->AddRef();
    controllingUnknown()->Release();
  }
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

class ThrowsOnBuild : public com::ObjectRoot, public IPersist {
 public:
  static const com::InterfaceEntry* interfaceMap() {
    static const com::InterfaceEntry map[] = {com::entry<ThrowsOnBuild, IPersist>(),
                                              com::endOfMap()};
    return map;
  }
  ThrowsOnBuild() { throw std::bad_alloc(); }
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
};

TEST(ObjectTest, InterfaceMapAnswersQueriesWithOneIdentity) {
  LONG locks = com::module().lockCount();
  com::ComPtr<IPersistStream> stream;
  ASSERT_EQ(S_OK, com::createObject<Sample>(nullptr, IID_IPersistStream, stream.putVoid()));
  EXPECT_EQ(locks + 1, com::module().lockCount());

  com::ComPtr<IPersist> persist;
  com::ComPtr<IServiceProvider> provider;
  ASSERT_EQ(S_OK, stream.as(persist));
  ASSERT_EQ(S_OK, persist.as(provider));
  EXPECT_TRUE(com::sameObject(stream.get(), provider.get()));

  com::ComPtr<IUnknown> a, b;
  ASSERT_EQ(S_OK, stream.as(a));
  ASSERT_EQ(S_OK, provider.as(b));
  EXPECT_EQ(a.get(), b.get());

  // Asking a pointer for its own interface into itself keeps the object.
  com::ComPtr<IPersistStream> self(stream);
  ASSERT_EQ(S_OK, self.as(self));
  ASSERT_EQ(S_OK, self.queryFrom(self.get()));
  EXPECT_EQ(stream.get(), self.get());
  self.reset();

  com::ComPtr<IOleWindow> window;
  EXPECT_EQ(E_ACCESSDENIED, stream.as(window));
  EXPECT_FALSE(window);
  com::ComPtr<IStream> none;
  EXPECT_EQ(E_NOINTERFACE, stream.as(none));
  EXPECT_EQ(E_POINTER, stream->QueryInterface(IID_IPersist, nullptr));

  int released = g_released;
  stream.reset();
  persist.reset();
  provider.reset();
  a.reset();
  EXPECT_EQ(released, g_released);
  b.reset();
  EXPECT_EQ(released + 1, g_released);
  EXPECT_EQ(locks, com::module().lockCount());
}

TEST(ObjectTest, CreationRules) {
  LONG locks = com::module().lockCount();
  void* out = reinterpret_cast<void*>(1);
  // A failing construction hook destroys the object and reports its code.
  int released = g_released;
  EXPECT_EQ(E_ABORT, com::createObject<Broken>(nullptr, IID_IPersist, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(released + 1, g_released);

  // A throwing constructor is stopped at creation.
  EXPECT_EQ(E_OUTOFMEMORY, com::createObject<ThrowsOnBuild>(nullptr, IID_IPersist, &out));
  EXPECT_EQ(nullptr, out);

  // An unknown interface leaves nothing alive.
  EXPECT_EQ(E_NOINTERFACE, com::createObject<Sample>(nullptr, IID_IStream, &out));
  EXPECT_EQ(nullptr, out);

  // With an outer object only IUnknown may be asked for.
  com::ComPtr<IPersist> outer;
  ASSERT_EQ(S_OK, com::createObject<Sample>(nullptr, IID_IPersist, outer.putVoid()));
  EXPECT_EQ(CLASS_E_NOAGGREGATION, com::createObject<Sample>(outer.get(), IID_IPersist, &out));
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            com::createObjectNoAggregation<Sample>(outer.get(), IID_IUnknown, &out));
  EXPECT_EQ(nullptr, out);
  outer.reset();
  EXPECT_EQ(locks, com::module().lockCount());
}

TEST(ObjectTest, ReferenceTakenDuringFinalReleaseDoesNotDestroyTwice) {
  g_released = 0;
  com::ComPtr<IPersist> object;
  ASSERT_EQ(S_OK, com::createObjectNoAggregation<ReentersOnRelease>(nullptr, IID_IPersist,
                                                                    object.putVoid()));
  object.reset();
  EXPECT_EQ(1, g_released);
}

}  // namespace
