// vpolv-sim doctor: this machine's set-up of the plug-in, checked (support/doctor.h checks it).
#include "support/doctor.h"

#include "sim/commands/command.h"

namespace vpolv::sim {

using namespace support;

namespace {

struct DoctorOptions {
    std::string hostFolder;
    bool json = false;
    CLI::Option* hostFolderGiven = nullptr;
};

int doctorCommand(const DoctorOptions& options, const Console& console) {
    doctor::Options checks;
    if (options.hostFolderGiven->count())
        checks.hostFolder = options.hostFolder;
    checks.json = options.json;
    return doctor::command(checks, console.out, console.err);
}

// A folder to check: not an empty text.
std::string notEmpty(const std::string& folder) {
    return folder.empty() ? "needs a folder, not an empty text" : "";
}

}  // namespace

CLI::App* setupDoctor(CLI::App& parent, Session& session) {
    auto options = std::make_shared<DoctorOptions>();
    CLI::App* app = addCommand(
        parent, session, "doctor",
        "Checks whether this machine is set up for the vpolv plug-in, and changes nothing. One "
        "line per check, \"ok\" or \"problem:\" with what is wrong and what to do.\n"
        "\n"
        "On Windows, in both registry views (32-bit and 64-bit hosts) and for the per-user and "
        "the per-machine registration: the class vpolv.Plugin (ProgID, InprocServer32, "
        "ThreadingModel, the type library), the DLL it names (there, of the view's bitness, its "
        "version record and signature), the SPACE.INI in that DLL's folder, the catalogs folder "
        "it names and the catalog files for 503 and 570 as the plug-in finds them, the trace "
        "switch (and whether this user may append to the trace and rotate it, from the rights "
        "Windows grants: nothing is written) and the installer's record. Everywhere: the user's "
        "decimal separator.",
        options, doctorCommand);
    options->hostFolderGiven =
        app->add_option("--host-folder", options->hostFolder,
                        "check a host folder instead (SPACE.INI and the catalogs), registered or "
                        "not; the only checks without Windows")
            ->type_name("DIR")
            ->check(CLI::Validator(notEmpty, ""));
    app->add_flag("--json", options->json, "print the report as one JSON document");
    app->footer(
        "Exit status: 0 every check is ok, 1 a problem was found, 2 the checks could not be "
        "made.");
    return app;
}

}  // namespace vpolv::sim
