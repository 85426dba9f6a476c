// vpolv-sim reference: the glass pricing rules as Markdown.
#include "sim/commands/command.h"
#include "sim/reports/pricing_reference.h"

namespace vpolv::sim {

namespace {

struct ReferenceOptions {};

int printReference(const ReferenceOptions&, const Console& console) {
    return console.print(pricingReference()) ? kTrueResult : kNotWritten;
}

}  // namespace

CLI::App* setupReference(CLI::App& parent, Session& session) {
    CLI::App* app = addCommand(
        parent, session, "reference",
        "Runs no event and reads no scene: prints the glass pricing rules as Markdown, from the "
        "plug-in's own tables, with worked examples the plug-in computes "
        "(docs/pricing-reference.md holds this output).",
        std::make_shared<ReferenceOptions>(), printReference);
    app->footer("Exit status: 0, or 3 when the document could not be written.");
    return app;
}

}  // namespace vpolv::sim
