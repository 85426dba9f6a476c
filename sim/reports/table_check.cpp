// vpolv-sim --check: the table-4 lines each glass choice would look up, and what is missing.
#include "sim/reports/table_check.h"

#include <algorithm>
#include <optional>
#include <set>

#include "common/fixed_locale.h"
#include "common/text.h"
#include "host/info_codes.h"
#include "showcase/cabinet.h"
#include "showcase/showcase.h"
#include "sim/engine/event.h"
#include "standalone/echo.h"
#include "standalone/files.h"

namespace vpolv::sim {

using platform::utf8Path;
using standalone::echo;

namespace {

// The glass choices that name a surcharge line, then no choice ("").
std::vector<std::string> choices() {
    std::vector<std::string> out;
    for (const GlassGroup& group : glassGroups())
        out.push_back(toUtf8(Text(group.choice)));
    out.emplace_back();
    return out;
}
constexpr Source kRubrics[] = {Source::Keyword3, Source::Keyword4, Source::Keyword5,
                               Source::Keyword6};
constexpr Long kChoiceInfos[] = {info::kChoice85, info::kChoice86, info::kChoice87,
                                 info::kChoice88};

// The scene with every place a glass choice is read from, for object, set to choice.
SceneFile withChoice(const SceneFile& scene, Long object, const std::string& choice) {
    SceneFile variant = scene;
    variant.failures.clear();
    const Text text = fromUtf8(choice);
    for (const Source rubric : kRubrics)
        variant.scene.keywords[Text(keywordText(rubric))] = text;
    auto& objects = variant.scene.objects;
    std::vector<Long> ids = objects.at(object).children;
    ids.push_back(object);
    for (const Long id : ids) {
        for (const Long code : kChoiceInfos)
            objects.at(id).infos[code] = text;
    }
    return variant;
}

bool isWholeNumber(const Text& text) {
    std::size_t i = 0;
    const auto blank = [&] { return i < text.size() && (text[i] == u' ' || text[i] == u'\t'); };
    while (blank())
        ++i;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9')
        ++i;
    if (i == digits)
        return false;
    while (blank())
        ++i;
    return i == text.size();
}

// What is wrong with a points text, as the plug-in reads it: nothing for a plain whole number it
// can count.
std::optional<std::string> pointsFault(const FixedLocale& locale, const Text& points) {
    std::optional<double> value;
    std::optional<Long> counted;
    try {
        value = locale.textToDouble(points);
    } catch (const Error&) {
    }
    try {
        counted = locale.textToLong(points);
    } catch (const Error&) {
    }
    // "&H80000001" and above are no double, yet the plug-in counts them: as negative numbers.
    if (!counted)
        return value ? "out of range" : "not a number";
    if (isWholeNumber(points))
        return std::nullopt;
    const std::string read = "read as " + toUtf8(locale.doubleToText(value.value_or(*counted)));
    return value.value_or(*counted) == *counted ? read
                                                : read + ", counted as " + std::to_string(*counted);
}

template <class Entry>
Entry& entryFor(std::vector<Entry>& entries, const std::string& line, Integer table) {
    for (auto& entry : entries) {
        if (entry.line == line) {
            if constexpr (requires { entry.table; }) {
                if (entry.table != table)
                    continue;
            }
            return entry;
        }
    }
    Entry entry{};
    entry.line = line;
    if constexpr (requires { entry.table; })
        entry.table = table;
    entries.push_back(std::move(entry));
    return entries.back();
}

std::string quoted(const std::string& text) {
    return "\"" + echo(text) + "\"";
}

std::string objectName(const SceneFile& scene, Long id) {
    std::string out = std::to_string(id);
    const auto& infos = scene.scene.objects.at(id).infos;
    if (const auto ref = infos.find(info::kReference); ref != infos.end() && !ref->second.empty())
        out += " (" + echo(toUtf8(ref->second)) + ")";
    return out;
}

std::string choiceName(const std::string& choice) {
    return choice.empty() ? "no choice" : choice;
}

// "Grupo 3: object 100 (VITRINA); no choice: objects 100 (VITRINA), 140 (FR_1PRVAMA)"
std::string usesText(const SceneFile& scene, const std::vector<CheckResult::Use>& uses) {
    std::string out;
    for (const std::string& choice : choices()) {
        std::vector<Long> objects;
        for (const auto& use : uses) {
            if (use.choice == choice)
                objects.push_back(use.object);
        }
        if (objects.empty())
            continue;
        if (!out.empty())
            out += "; ";
        out += choiceName(choice) + (objects.size() == 1 ? ": object " : ": objects ");
        for (std::size_t i = 0; i < objects.size(); ++i)
            out += (i ? ", " : "") + objectName(scene, objects[i]);
    }
    return out;
}

std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

CheckResult checkTables(const SceneFile& scene) {
    CheckResult result;
    const FixedLocale locale(scene.numbers);
    std::set<Long> children;
    for (const auto& [id, object] : scene.scene.objects)
        children.insert(object.children.begin(), object.children.end());

    for (const Long id : scene.objectOrder) {
        if (children.count(id))
            continue;
        bool checked = false;
        for (const std::string& choice : choices()) {
            const RunResult run = runEvent(withChoice(scene, id, choice), Event::Place, id);
            const auto lookups = tableLookups(run);
            const bool priced = std::any_of(lookups.begin(), lookups.end(),
                                            [](const auto& l) { return l.table != kTable3; });
            if (!priced && !run.outcome.error)
                break;  // the same for every choice: nothing of this object is priced
            checked = true;
            const CheckResult::Use use{id, choice};
            // Without its own line the object's surcharge lines are meaningless: that alone is
            // reported, once.
            const auto ownLine = std::find_if(lookups.begin(), lookups.end(), [](const auto& l) {
                return l.table == kTable3 && !l.failed && l.rank <= 0;
            });
            if (ownLine != lookups.end()) {
                entryFor(result.missing, toUtf8(ownLine->line), kTable3).uses.push_back({id, ""});
                break;
            }
            bool explained = false;
            std::set<std::pair<Integer, Text>> seen;
            for (const auto& lookup : lookups) {
                if (lookup.table == kTable3 || lookup.failed ||
                    !seen.insert({lookup.table, lookup.line}).second) {
                    continue;
                }
                const std::string line = toUtf8(lookup.line);
                if (lookup.rank <= 0) {
                    entryFor(result.missing, line, lookup.table).uses.push_back(use);
                    explained = true;
                    continue;
                }
                const auto points = lookup.columns.find(kPointsColumn);
                if (points == lookup.columns.end())
                    continue;
                if (const auto fault = pointsFault(locale, points->second)) {
                    auto& entry = entryFor(result.points, line, lookup.table);
                    entry.points = toUtf8(points->second);
                    entry.readAs = *fault;
                    entry.uses.push_back(use);
                    explained = true;
                }
            }
            if (run.outcome.error && !explained)
                result.failures.push_back({use, run.outcome.error->what()});
        }
        if (checked)
            result.objects.push_back(id);
    }
    return result;
}

std::string checkReport(const SceneFile& scene, const CheckResult& result) {
    std::string out = "Check   " + echo(utf8Path(scene.file.filename())) + ", " +
                      numbersText(scene.numbers) + "\nObjects ";
    if (result.objects.empty())
        out += "none with glass to price";
    for (std::size_t i = 0; i < result.objects.size(); ++i)
        out += (i ? ", " : "") + objectName(scene, result.objects[i]);
    out += "\n";
    if (result.clean()) {
        return out +
               "\nNothing missing: every line is there and every points value is a whole "
               "number.\n";
    }
    if (!result.missing.empty()) {
        out += "\nMissing lines\n";
        for (const auto& missing : result.missing) {
            out += "  table " + std::to_string(missing.table) + " " + quoted(missing.line) + ": ";
            out += missing.table == kTable3
                       ? "the line of object " + objectName(scene, missing.uses[0].object)
                       : usesText(scene, missing.uses);
            out += "\n";
        }
    }
    if (!result.points.empty()) {
        out += "\nPoints that are not whole numbers\n";
        for (const auto& points : result.points) {
            out += "  table 4 " + quoted(points.line) + " points " + quoted(points.points) + ": " +
                   points.readAs + " (" + usesText(scene, points.uses) + ")\n";
        }
    }
    if (!result.failures.empty()) {
        out += "\nPricing failures\n";
        for (const auto& failure : result.failures) {
            out += "  object " + objectName(scene, failure.use.object) + ", " +
                   choiceName(failure.use.choice) + ": " + echo(failure.error) + "\n";
        }
    }
    return out + "\n" + count(result.missing.size(), "missing line", "missing lines") + ", " +
           count(result.points.size(), "points value", "points values") + ", " +
           count(result.failures.size(), "failure", "failures") + "\n";
}

}  // namespace vpolv::sim
