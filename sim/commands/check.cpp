// vpolv-sim check SCENE and vpolv-sim reference: the reports that run no event.
#include "platform/paths.h"
#include "sim/commands/command.h"
#include "sim/formats/scene_file.h"
#include "sim/reports/pricing_reference.h"
#include "sim/reports/table_check.h"

namespace vpolv::sim {

int checkCommand(const CheckOptions& options, const standalone::Console& console) {
    const auto loaded = loadScene(platform::pathFromUtf8(options.scene));
    const auto found = checkTables(loaded);
    if (!console.print(checkReport(loaded, found)))
        return support::kNotWritten;
    return found.clean() ? support::kOk : support::kNotOk;
}

// vpolv-sim reference: the glass pricing rules as Markdown.
int referenceCommand(const NoOptions&, const standalone::Console& console) {
    return console.print(pricingReference()) ? support::kOk : support::kNotWritten;
}

}  // namespace vpolv::sim
