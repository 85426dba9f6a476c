// vpolv-sim --check: which points texts are taken for whole numbers under each separator, and
// what is reported when pricing fails for another reason than a missing line.
#include <gtest/gtest.h>

#include "sim/reports/table_check.h"

namespace vpolv::sim {
namespace {

// A glass front placed on its own (or another reference), priced from table-4 line "_1_70_45"
// with the given points.
SceneFile frontScene(const std::string& separator, const std::string& points,
                     const std::string& column3 = "45",
                     const std::string& reference = "FR_1PRVAMA") {
    return parseScene(R"({"decimalSeparator": ")" + separator + R"(",
        "objects": [{"id": 1, "infos": {"2": "503", "4": ")" +
                          reference + R"(", "7": "F"},
                     "children": [2]},
                    {"id": 2, "infos": {"4": "FR_2PBVN"}}],
        "tables": {"3": {"F": {"3": ")" +
                          column3 + R"(", "4": "0", "5": "70"}},
                   "4": {"_0_": {"3": "0"}, "_1_70_45": {"3": ")" +
                          points + R"("},
                         "_2_70_45": {"3": "1"}, "_3_70_45": {"3": "1"}, "_4_70_45": {"3": "1"}}}})",
                      "check.json");
}

TEST(Check, PointsMustBeWrittenAsWholeNumbers) {
    const struct {
        const char* separator;
        const char* points;
        const char* readAs;  // empty: a whole number
    } cases[] = {
        {".", "25", ""},
        {",", " -5 ", ""},
        {".", "1,5", "read as 15"},
        {",", "1.500", "read as 1500"},
        {",", "1,5", "read as 1,5, counted as 2"},
        {".", "2.5", "read as 2.5, counted as 2"},
        {".", "1e3", "read as 1000"},
        {".", "n/d", "not a number"},
        {".", "", "not a number"},
        {".", "9999999999", "out of range"},
        {".", "&HFFFFFFFF", "read as -1"},  // no double, but a Long
        {".", "&H7FFFFFFF", "read as 2147483647"},
    };
    for (const auto& c : cases) {
        const CheckResult result = checkTables(frontScene(c.separator, c.points));
        EXPECT_EQ(result.objects, std::vector<Long>{1});
        EXPECT_TRUE(result.missing.empty()) << c.points;
        if (*c.readAs == '\0') {
            EXPECT_TRUE(result.clean()) << c.points;
            continue;
        }
        ASSERT_EQ(result.points.size(), 1u) << c.points;
        EXPECT_EQ(result.points[0].line, "_1_70_45");
        EXPECT_EQ(result.points[0].readAs, c.readAs) << c.separator << " " << c.points;
        EXPECT_TRUE(result.failures.empty()) << c.points;
    }
}

TEST(Check, AFailureBeforeAnyLookupIsReported) {
    // A type-2 cabinet halves its table-3 column 3, here no number: no line can be named.
    const CheckResult result = checkTables(frontScene(".", "1", "n/d", "VITRINA2"));
    EXPECT_TRUE(result.missing.empty());
    ASSERT_EQ(result.failures.size(), 4u);  // every group; no choice needs no column
    EXPECT_EQ(result.failures[0].use.choice, "Grupo 1");
    EXPECT_NE(result.failures[0].error.find("0x800A000D"), std::string::npos);
}

}  // namespace
}  // namespace vpolv::sim
