// Test doubles for the DirectShow tests: objects that count their references without deleting
// themselves (they live on the test's stack) and record what is done to them.
#pragma once

#include <QCoreApplication>
#include <string>
#include <vector>

#include "platform/DirectShow.h"

namespace dsfakes {

using namespace platform;

// Runs the event loop until nothing posted is left.
inline void DrainMessages() {
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
}

class FakeUnknown : public IUnknown {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID) {
      *obj = this;
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  ULONG Refs = 1;
};

class FakeBaseFilter : public IBaseFilter {
 public:
  explicit FakeBaseFilter(GUID ClassID = GUID_NULL) : FClassID(ClassID) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IPersist::IID || iid == IMediaFilter::IID ||
        iid == IBaseFilter::IID) {
      *obj = static_cast<IBaseFilter*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT GetClassID(GUID* ClassID) override {
    *ClassID = FClassID;
    return S_OK;
  }
  HRESULT Stop() override {
    ++Stops;
    return S_OK;
  }
  HRESULT QueryFilterInfo(FILTER_INFO* Info) override {
    Info->achName = Name;
    Info->pGraph = Graph;
    if (Graph) Graph->AddRef();
    return S_OK;
  }
  HRESULT JoinFilterGraph(IFilterGraph* AGraph, LPCWSTR AName) override {
    Graph = AGraph;
    Name = AName ? AName : u"";
    Joins.push_back(AGraph != nullptr);
    return S_OK;
  }
  HRESULT EnumPins(IEnumPins** Enum) override {
    *Enum = nullptr;
    return E_NOTIMPL;
  }
  ULONG Refs = 1;
  int Stops = 0;
  IFilterGraph* Graph = nullptr;
  std::u16string Name;
  std::vector<bool> Joins;

 private:
  GUID FClassID;
};

class FakePin : public IPin {
 public:
  explicit FakePin(IBaseFilter* Owner) : FOwner(Owner) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (iid == IUnknown::IID || iid == IPin::IID) {
      *obj = static_cast<IPin*>(this);
      AddRef();
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override { return --Refs; }
  HRESULT Disconnect() override { return S_OK; }
  HRESULT QueryPinInfo(PIN_INFO* Info) override {
    Info->pFilter = FOwner;
    if (FOwner) FOwner->AddRef();
    Info->dir = PINDIR_OUTPUT;
    Info->achName = u"Out";
    return S_OK;
  }
  ULONG Refs = 1;

 private:
  IBaseFilter* FOwner;
};

}  // namespace dsfakes
