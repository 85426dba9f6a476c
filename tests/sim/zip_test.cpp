// Zip archives: entries come back as written, the same entries give the same bytes, damaged
// archives are refused with their fault named; a bundle replays as the trace it holds.
#include "support/zip.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace vpolv::support {
namespace {

namespace fs = std::filesystem;

const fs::path kCases = VPOLV_ROOT "/tests/sim";

std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<ZipEntry> sampleEntries() {
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "line " + std::to_string(i % 17) + ": VITRINA glass, 60 x 90\n";
    return {{"empty.txt", ""},
            {"binary.bin", binary},
            {"cuisine/vitrine à étagères.txt", "façade"},
            {"trace.jsonl", text}};
}

TEST(Zip, EntriesComeBackAsWrittenAndTheSameEntriesGiveTheSameBytes) {
    const auto entries = sampleEntries();
    const std::string archive = writeZip(entries);
    EXPECT_TRUE(looksLikeZip(archive));
    EXPECT_EQ(archive, writeZip(entries));
    EXPECT_LT(archive.size(), entries.back().data.size() / 4);  // the text deflated
    const auto read = readZip(archive);
    ASSERT_EQ(read.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(read[i].name, entries[i].name);
        EXPECT_EQ(read[i].data, entries[i].data) << entries[i].name;
    }
    EXPECT_TRUE(readZip(writeZip({})).empty());
    EXPECT_FALSE(looksLikeZip("{\"format\": 1}"));
    EXPECT_THROW(writeZip({{"", "x"}}), ZipError);
}

// Little-endian fields of an archive, to damage one.
void put(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
std::uint32_t get32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// An archive of one stored entry ("a.txt") and one deflated ("b.txt"), damaged; the offsets
// are those of the fields in the local header (at 0 for a.txt) and in the central directory.
struct Damage {
    const char* name;
    std::function<void(std::string&, std::size_t central, std::size_t secondLocal)> apply;
    const char* message;
};

TEST(Zip, DamagedArchivesAreRefusedWithTheirFaultNamed) {
    const std::string good = writeZip({{"a.txt", "hello"}, {"b.txt", std::string(1000, 'x')}});
    const std::size_t central = get32(good, good.size() - 6);
    const std::size_t secondLocal = get32(good, central + 46 + 5 + 42);
    const Damage damages[] = {
        {"empty", [](std::string& z, std::size_t, std::size_t) { z.clear(); }, "too short"},
        {"truncated", [](std::string& z, std::size_t, std::size_t) { z.resize(z.size() - 10); },
         "no end of central directory record"},
        {"bad CRC", [](std::string& z, std::size_t, std::size_t) { z[30 + 5] = 'j'; },
         "a.txt: CRC-32 mismatch"},
        {"bad method",
         [](std::string& z, std::size_t c, std::size_t) {
             put(z, 8, 12, 2);
             put(z, c + 10, 12, 2);
         },
         "a.txt: unsupported compression method 12"},
        {"size that lies",
         [](std::string& z, std::size_t c, std::size_t l) {
             put(z, l + 22, 999, 4);
             put(z, c + 46 + 5 + 24, 999, 4);
         },
         "b.txt: inflates to more than the 999 bytes"},
        {"compressed size past the end",
         [](std::string& z, std::size_t c, std::size_t) {
             put(z, 18, 5000, 4);
             put(z, c + 20, 5000, 4);
         },
         "a.txt: its data runs past the entries"},
        {"headers that disagree",
         [](std::string& z, std::size_t, std::size_t) { put(z, 22, 6, 4); },
         "a.txt: its local header and the central directory disagree"},
        {"size beyond the limit",
         [](std::string& z, std::size_t c, std::size_t) { put(z, c + 24, 300u << 20, 4); },
         "a.txt: the entries would inflate to more than 256 MiB"},
        {"central directory cut",
         [](std::string& z, std::size_t, std::size_t) { put(z, z.size() - 6, 0xFFFFFF, 4); },
         "the central directory lies beyond its end record"},
        {"twice the same name",
         [](std::string& z, std::size_t c, std::size_t l) {
             z[l + 30] = 'a';
             z[c + 46 + 5 + 46] = 'a';
         },
         "a.txt: more than one entry has this name"},
    };
    for (const Damage& d : damages) {
        std::string bytes = good;
        d.apply(bytes, central, secondLocal);
        try {
            readZip(bytes);
            ADD_FAILURE() << d.name << ": read";
        } catch (const ZipError& e) {
            EXPECT_NE(std::string(e.what()).find(d.message), std::string::npos)
                << d.name << ": " << e.what();
        }
    }
}

// The bundles of the cases are writeZip's: when the format changes, copy the files this test
// writes into the build folder over them.
TEST(Zip, TheCasesBundlesAreWhatWriteZipMakes) {
    const std::string readme = "A support bundle for the tests.\n";
    const std::pair<fs::path, std::string> bundles[] = {
        {kCases / "bundle.zip",
         writeZip({{"trace.jsonl", slurp(kCases / "one-record.jsonl")}, {"README.txt", readme}})},
        {kCases / "bad/no-trace.zip", writeZip({{"README.txt", readme}})},
        // A bundle cut short: the first 100 bytes of bundle.zip.
        {kCases / "bad/cut-bundle.zip",
         writeZip({{"trace.jsonl", slurp(kCases / "one-record.jsonl")}, {"README.txt", readme}})
             .substr(0, 100)},
    };
    for (const auto& [file, bytes] : bundles) {
        if (slurp(file) != bytes) {
            const fs::path made = fs::current_path() / file.filename();
            std::ofstream(made, std::ios::binary) << bytes;
            ADD_FAILURE() << file << " differs from what writeZip makes; the new one is " << made;
        }
    }
}

TEST(Zip, ABundleReplaysAsTheTraceItHolds) {
    const auto run = [](const std::string& file) {
        std::ostringstream out;
        std::ostringstream err;
        const std::string args[] = {"replay", (kCases / file).string()};
        const int status = sim::runSim(args, out, err);
        return std::to_string(status) + "\n" + out.str() + err.str();
    };
    std::string expected = run("one-record.jsonl");
    const std::string trace = (kCases / "one-record.jsonl").string();
    expected.replace(expected.find(trace), trace.size(),
                     (kCases / "bundle.zip").string() + " (trace.jsonl)");
    EXPECT_EQ(run("bundle.zip"), expected);
}

}  // namespace
}  // namespace vpolv::support
