// Zip archives from arbitrary bytes: the reader gives entries or raises ZipError with a reason,
// nothing else; what it gives, written again, reads back the same.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "support/zip.h"

namespace {

using vpolv::fuzzing::describeCurrentException;
using vpolv::fuzzing::finding;
using vpolv::support::ZipEntry;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ZipEntry> entries;
    try {
        entries = vpolv::support::readZip(bytes);
    } catch (const vpolv::support::ZipError& bad) {
        if (std::string_view(bad.what()).empty())
            finding("an archive refused without a reason");
        return 0;
    } catch (...) {
        finding("the zip reader raised something else than ZipError", describeCurrentException());
    }
    std::vector<ZipEntry> again;
    try {
        again = vpolv::support::readZip(vpolv::support::writeZip(entries));
    } catch (...) {
        finding("entries read could not be written and read again", describeCurrentException());
    }
    if (again.size() != entries.size())
        finding("entries written again read back as another number of entries");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (again[i].name != entries[i].name || again[i].data != entries[i].data)
            finding("an entry written again read back otherwise", entries[i].name);
    }
    return 0;
}
