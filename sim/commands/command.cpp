// Printing, and what the commands' options share.
#include "sim/commands/command.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "standalone/files.h"

namespace vpolv::sim {

using namespace standalone;

void refuseExtras(const CLI::App& app) {
    std::vector<std::string> extras = app.remaining();
    // CLI11 keeps the "--" that ends the options among them, and does not count it.
    for (std::size_t marks = extras.size() - app.remaining_size(); marks > 0; --marks)
        extras.erase(std::find(extras.begin(), extras.end(), "--"));
    if (!extras.empty()) {
        std::reverse(extras.begin(), extras.end());
        throw CLI::ExtrasError(app.get_name(), extras);
    }
}

void givenOnce(CLI::App& app) {
    for (CLI::Option* option : app.get_options()) {
        if (option->get_name() != "--help")
            option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    }
}

CLI::Option* addRecord(CLI::App& app, long long& record) {
    return app
        .add_option("--record", record,
                    "the record of the trace to use, from 1 (default: the last)")
        ->check(CLI::Range(1LL, static_cast<long long>(std::numeric_limits<int>::max())));
}

}  // namespace vpolv::sim
