// What the Wine tests share: the test folder with its copy of vpolv.dll, the fake host, calls
// through IDispatch, registry checks and the example scenes.
#pragma once

#include <string>
#include <vector>

#include "host/memory_host.h"
#include "platform/windows/com_support.h"
#include "platform/windows/win32.h"
#include "plugin/plugin.h"
#include "testkit/doubles.h"
#include "testkit/wine/fake_host/fake_host.h"

namespace vpolv::winetest {

using win::ComPtr;

struct Paths {
    std::wstring folder;       // the test folder, holding vpolv.dll and its SPACE.INI
    std::wstring vpolvDll;     // the copy of vpolv.dll under test
    std::wstring catalogsDir;  // the catalogs folder named by SPACE.INI, with a final separator
};
const Paths& paths();
fakehost::Control& fakeHost();

// Set up by main() before the tests run.
void setUp(const std::wstring& builtVpolvDll);
void tearDown();

// An export of a loaded library as a function pointer of type F (null when missing).
template <class F>
F exportOf(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
using EntryPoint = HRESULT(STDAPICALLTYPE*)();

// While alive, module's import of function name from library dll calls replacement instead:
// how a test makes one system call of the DLL fail. found() is false when the module does not
// import it.
class ImportPatch {
  public:
    ImportPatch(HMODULE module, const char* dll, const char* name, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool found() const { return slot_ != nullptr; }

  private:
    void write(ULONG_PTR value);
    ULONG_PTR* slot_ = nullptr;
    ULONG_PTR original_ = 0;
};

// A Unix path as Wine sees it (on drive Z:); other paths unchanged.
std::wstring windowsPath(const std::string& path);

// While alive, closes every message box shown on this thread and counts them.
class BoxCloser {
  public:
    BoxCloser();
    ~BoxCloser();
    BoxCloser(const BoxCloser&) = delete;
    BoxCloser& operator=(const BoxCloser&) = delete;
    int closed() const { return closed_; }

  private:
    static LRESULT CALLBACK watch(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_ = nullptr;
    int closed_ = 0;
    HWND last_ = nullptr;
};

// Writes a file whole, then gives it the attributes (when not 0); throws when it cannot.
void writeFile(const std::wstring& path, const std::string& contents, DWORD attributes = 0);
// Runs a command line, waits for it and returns its exit code.
DWORD runProgram(const std::wstring& commandLine);
// regsvr32 with the given switches on the vpolv.dll under test; returns its exit code.
DWORD regsvr32(const std::wstring& switches);
bool keyExists(HKEY root, const std::wstring& path);
// The registry paths (below Software\Classes) that registration writes.
std::vector<std::wstring> registeredKeys();

// A method's outcome through IDispatch::Invoke.
struct Outcome {
    HRESULT hr = E_FAIL;
    win::Variant value;
    HRESULT scode = S_OK;  // from EXCEPINFO when hr is DISP_E_EXCEPTION
    Text description;
    Text source;
};
// Calls a method by name; args are given in the method's order.
void invoke(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args, Outcome& out);
VARIANT i4(LONG value);
VARIANT i4Ref(LONG* value);
VARIANT bstrRef(BSTR* value);

// A new Plugin object, created by its ProgID; throws std::runtime_error when it cannot be.
ComPtr<IDispatch> createPlugin();
// Runs an event method with a call-parameter block (5 unless given).
void fire(IDispatch* plugin, Event event, Outcome& out, LONG callParamsBlock = 5);

// Scenes. Object 10 is the object of the call.
// A type-1 cabinet "VITRINA" (catalog 503, handle "25", session 7) with the children
// 11 "FR_1PBVN", 12 "ESTANTE" (not glass) and 13 "FR_1PBVGL"; the scene's rubrics choose
// "Grupo 2".
host::SceneData cabinetScene();
// A single object of catalog 570 with reference "MUEBLE" and the given handle code (session 1).
host::SceneData cabinetlessScene(const Text& handle);
// Three scene objects: a type-1 cabinet (503), an object of catalog 999, a glass front (570).
host::SceneData mixedScene();

}  // namespace vpolv::winetest
