// vpolv-sim's entry on Windows: the command line as the system holds it (UTF-16) handed on as
// UTF-8, and the output shown right in a console.
//
// A console shows UTF-16 written with WriteConsoleW whatever its code page; bytes written to it
// would be read in that code page, and accented letters would come out wrong. So while standard
// output or standard error is a console, the text is converted and written that way; redirected
// to a file or a pipe, it stays UTF-8 bytes.
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "sim/sim.h"

namespace {

// A stream buffer that writes UTF-8 text to a console as UTF-16. A character cut by the end of
// the buffer waits for the rest of its bytes.
class ConsoleBuffer : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}
    ~ConsoleBuffer() override { flushWhole(); }

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
        pending_ += traits_type::to_char_type(c);
        if (pending_.size() >= 4096 && !flushWhole())
            return traits_type::eof();
        return c;
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<std::size_t>(count));
        if (pending_.size() >= 4096 && !flushWhole())
            return 0;
        return count;
    }

    int sync() override { return flushWhole() ? 0 : -1; }

  private:
    // Writes the complete characters held; false when the console refuses them.
    bool flushWhole() {
        std::size_t whole = pending_.size();
        // Keep back the start of a character whose continuation bytes have not come yet.
        for (std::size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
            const unsigned char byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((byte & 0xC0) == 0x80)
                continue;
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back)
                whole = pending_.size() - back;
            break;
        }
        const std::u16string text = vpolv::fromUtf8(std::string_view(pending_).substr(0, whole));
        pending_.erase(0, whole);
        const wchar_t* data = reinterpret_cast<const wchar_t*>(text.data());
        std::size_t left = text.size();
        while (left > 0) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(left < 8192 ? left : 8192);
            if (!WriteConsoleW(console_, data, chunk, &written, nullptr) || written == 0)
                return false;
            data += written;
            left -= written;
        }
        return true;
    }

    HANDLE console_;
    std::string pending_;
};

// The console behind a standard handle, or null when the handle is redirected.
HANDLE consoleOf(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    vpolv::sim::installLastResort();  // before the first allocation
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view arg(argv[i]);
        args.push_back(vpolv::toUtf8(std::u16string(arg.begin(), arg.end())));
    }
    // Both buffers outlive every write: they are destroyed after the streams are flushed below.
    std::unique_ptr<ConsoleBuffer> out;
    std::unique_ptr<ConsoleBuffer> err;
    std::streambuf* const outBefore = std::cout.rdbuf();
    std::streambuf* const errBefore = std::cerr.rdbuf();
    if (HANDLE console = consoleOf(STD_OUTPUT_HANDLE)) {
        out = std::make_unique<ConsoleBuffer>(console);
        std::cout.rdbuf(out.get());
    }
    if (HANDLE console = consoleOf(STD_ERROR_HANDLE)) {
        err = std::make_unique<ConsoleBuffer>(console);
        std::cerr.rdbuf(err.get());
    }
    const int status = vpolv::sim::simulatorMain(args);
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(outBefore);
    std::cerr.rdbuf(errBefore);
    return status;
}
