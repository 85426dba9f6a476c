// A stand-in for the host's automation SDK: an in-process COM server with the classes
// "KDSDK.Appli", "KDSDK.Scene" and "KDSDK.Catalog", answering from an in-memory scene.
//
// Every call is recorded as it arrived, with the automation type of each argument, in the
// in-memory host's notation ("Scene.ObjectGetInfo(I4& 1, I2 -2, I4 2)"). An argument of the
// wrong type is recorded and refused with DISP_E_TYPEMISMATCH. The server also counts name
// look-ups per object and live objects, and can answer, fail or crash in a chosen call.
//
// The test program loads the library itself and drives it through fakeHostControl(); COM then
// finds the same loaded library through the registry.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "host/memory_host.h"
#include "platform/windows/win32.h"

namespace vpolv::fakehost {

class Control {
  public:
    // Starts over with a new scene: new in-memory host, records and scripted answers cleared.
    virtual void reset(host::SceneData scene) = 0;
    // The in-memory host behind the objects: its scene, writes, loads, lifecycle log, and its
    // own fault injection (failures raised as the host's error, with a description).
    virtual host::MemoryHost& memory() = 0;

    // Every operation as it arrived over IDispatch, in order.
    virtual std::vector<std::string> calls() const = 0;
    // Forgets the operations recorded so far (calls()); everything else stays.
    virtual void clearRecords() = 0;
    // Name look-ups: "Scene#2.ObjectGetInfo" -> how often that object was asked for that name.
    virtual std::map<std::string, int> lookups() const = 0;
    // The texts of the exception information handed out with failures since the reset, in
    // order: the caller owns them.
    virtual std::vector<BSTR> exceptionTexts() const = 0;
    // COM objects of the fake host alive now, and the references held on them.
    virtual int liveObjects() const = 0;
    virtual long liveReferences() const = 0;

    // The n-th operation (1-based, counted across the three objects) answers text (as a BSTR)
    // instead of its normal result.
    virtual void answerWithText(std::size_t n, const std::wstring& text) = 0;
    // Whether a call that fails with exception information first adds to every text it takes
    // by reference, as a host may leave a text changed by a call that then failed.
    virtual void failuresChangeTexts(bool change) = 0;
    // The n-th operation fails with hr alone, without exception information.
    virtual void failWithHresult(std::size_t n, HRESULT hr) = 0;
    // The n-th operation crashes in the host's own code: an access violation (a write through
    // a null pointer) that the host does not handle, as a host failing under the plug-in does.
    virtual void crashInCall(std::size_t n) = 0;

  protected:
    ~Control() = default;
};

using ControlFunction = Control* (*)();
inline constexpr char kControlExport[] = "fakeHostControl";

}  // namespace vpolv::fakehost
