// vpolv-sim reference: the glass pricing rules as Markdown.
#include "sim/commands/command.h"
#include "sim/reports/pricing_reference.h"

namespace vpolv::sim {

namespace {

int printReference(const Context& context) {
    return context.console.print(pricingReference()) ? kTrueResult : kNotWritten;
}

}  // namespace

Command referenceCommand(CLI::App& parent) {
    CLI::App* app = parent.add_subcommand(
        "reference",
        "Runs no event and reads no scene: prints the glass pricing rules as Markdown, from the "
        "plug-in's own tables, with worked examples the plug-in computes "
        "(docs/pricing-reference.md holds this output).");
    app->footer("Exit status: 0, or 3 when the document could not be written.");
    return {app, printReference};
}

}  // namespace vpolv::sim
