#include "arguments.h"

#include "actions.h"
#include "binarization_methods.h"
#include "document_search.h"
#include "named_table.h"
#include "printable.h"
#include "reading_options.h"
#include "version.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include <sys/stat.h>

namespace tarvek::cli {
namespace {

// Photos keep the processor busy, so jobs past a few per core add no speed, only memory: each
// job holds its photo's working set, about 3 (detect) to 9 (clean) bytes per pixel.
constexpr unsigned JOBS_PER_CORE = 4;

unsigned cores()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

// jobs, or the most that are useful when more are asked for (said on standard error).
unsigned usefulJobs(unsigned jobs, bool quiet)
{
    const unsigned most = JOBS_PER_CORE * cores();
    if (jobs <= most)
        return jobs;
    if (!quiet)
        std::cerr << "tarvek: --jobs " << jobs << " lowered to " << most << " (" << JOBS_PER_CORE << " per core)\n";
    return most;
}

// Like CLI::ExistingPath, but with the system's reason when a path cannot be reached: a link to
// itself gives "Too many levels of symbolic links" rather than a path that does not exist.
CLI::Validator reachablePath()
{
    return CLI::Validator(
        [](std::string& path) {
            struct stat status {};
            return stat(path.c_str(), &status) == 0 ? std::string() : escapedForTerminal(path) + ": " + std::strerror(errno);
        },
        "PATH");
}

void addCommonOptions(CLI::App& command, Settings& settings)
{
    command.add_option("--jobs,-j", settings.jobs, "Photos processed in parallel (default: the number of cores)")
        ->check(CLI::PositiveNumber);
    command.add_flag("--quiet,-q", settings.quiet, "Neither a progress bar nor per-file lines on standard error");
    command.add_flag("--skip-existing", settings.skipExisting, "Leave photos whose output file already exists");
}

void addPhotoPaths(CLI::App& command, Settings& settings)
{
    command.add_option("paths", settings.paths, "Photo files, or folders searched recursively for photos")
        ->required()
        ->check(reachablePath());
}

void addSearchOptions(CLI::App& command, Settings& settings)
{
    settings.strategy = documentsearch::defaultStrategy;
    command.add_option("--strategy", settings.strategy, "Document search")
        ->check(CLI::IsMember(namesOf(documentsearch::strategies)))
        ->capture_default_str();
    settings.kind = "any";
    command.add_option("--kind", settings.kind, "Document kind whose preset height/width ratios guide the search")
        ->check(CLI::IsMember(namesOf(documentsearch::documentKinds)))
        ->capture_default_str();
}

// PNG for black and white, where JPEG would blur the edges; JPEG for photographs.
std::string defaultFormat(Action action)
{
    return action == Action::binarize ? "png" : "jpeg";
}

void addImageOutput(CLI::App& command, Settings& settings, Action action)
{
    command.add_option("--out,-o", settings.out, "Folder that receives the results, keeping each photo's relative path")
        ->required();
    command.add_option("--format", settings.format, "Image format of the results (default: " + defaultFormat(action) + ")")
        ->check(CLI::IsMember({"jpeg", "png", "webp"}));
}

// The options any method may read, within the widest bounds; the method's own
// bounds are checked once it is known.
void addBinarizeOptions(CLI::App& command, Settings& settings)
{
    settings.method = "auto";
    command.add_option("--method", settings.method, "Thresholding method")
        ->check(CLI::IsMember(namesOf(binarization::methods)))
        ->capture_default_str();
    command.add_option("--window", settings.methodOptions.window,
                       "Window side in pixels of sauvola (3-255, default 15) and multiscale-sauvola (default 16)");
    command.add_option("--k", settings.methodOptions.k,
                       "Sauvola's k (0-1, default 0.075); auto's weight of the edges' deviation (0-1, default 0.2)");
    command.add_option("--block", settings.methodOptions.block,
                       "adaptive-otsu's block side in pixels (8-4096, default 64); "
                       "multiscale-sauvola's coarse scale factor (1-255, default 7)");
}

// The method's defaults for the options not given, and what is wrong with the
// given ones ("" when nothing is).
std::string completeMethodOptions(const CLI::App& binarize, Settings& settings)
{
    const binarization::Method& method = *binarization::methodNamed(settings.method);
    const binarization::MethodOptions given = settings.methodOptions;
    settings.methodOptions = method.defaults;
    for (const binarization::OptionBounds& bounds : method.options)
        if (binarize.count(std::string("--") + bounds.name) > 0)
            binarization::setOption(settings.methodOptions, bounds.name, binarization::optionValue(given, bounds.name));
    return binarization::optionsProblem(method, settings.methodOptions);
}

// The language set is checked against the installed models once parsing is done.
void addReadingOptions(CLI::App& command, Settings& settings)
{
    command.add_option("--lang", settings.reading.languages, "Languages to read, installed models joined by '+' or spaces")
        ->capture_default_str();
    command.add_option("--deadline-ms", settings.reading.deadlineMs, "Time allowed for recognising one page")
        ->check(CLI::Range(reading::minDeadlineMs, reading::maxDeadlineMs))
        ->capture_default_str();
    command.add_flag("!--no-rectify", settings.reading.rectify,
                     "Read the photo as it is, without looking for a page in it to flatten");
    command.add_flag("!--no-upright", settings.reading.upright,
                     "Read the page as it lies, without turning it upright first");
}

void addScrambleOptions(CLI::App& command, Settings& settings)
{
    command.add_option("file", settings.paths, "File to read")
        ->required()
        ->expected(1)
        ->check(reachablePath())
        ->check(CLI::ExistingFile);
    command.add_option("--out,-o", settings.out, "File to write")->required();
    command.add_option("--key-file", settings.keyFile, "File whose bytes are the key (default: the built-in key)")
        ->check(reachablePath())
        ->check(CLI::ExistingFile);
    command.add_flag("--quiet,-q", settings.quiet, "No status line on standard error");
    command.add_flag("--skip-existing", settings.skipExisting, "Do nothing when the output file already exists");
}

CLI::App* addPhotoCommand(CLI::App& app, Settings& settings, Action action, const std::string& name,
                          const std::string& description)
{
    CLI::App* command = app.add_subcommand(name, description);
    command->callback([&settings, action] { settings.action = action; });
    addPhotoPaths(*command, settings);
    addCommonOptions(*command, settings);
    return command;
}

}  // namespace

bool writesLines(Action action)
{
    return action == Action::detect || action == Action::read || action == Action::fields;
}

std::variant<Settings, int> parseArguments(int argc, char** argv)
{
    Settings settings;
    settings.jobs = cores();

    CLI::App app("tarvek: find, flatten, binarize, clean and read photographed paper documents", "tarvek");
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tarvek ") + version());

    CLI::App* detect =
        addPhotoCommand(app, settings, Action::detect, "detect", "Write one JSON line per photo with the document's corners");
    addSearchOptions(*detect, settings);

    CLI::App* rectify = addPhotoCommand(app, settings, Action::rectify, "rectify", "Write each photo's document, flattened");
    addSearchOptions(*rectify, settings);
    addImageOutput(*rectify, settings, Action::rectify);
    rectify->add_flag("--upright", settings.upright, "Turn each page upright, whichever way its text lies");

    CLI::App* binarize = addPhotoCommand(app, settings, Action::binarize, "binarize", "Write each photo in black and white");
    addImageOutput(*binarize, settings, Action::binarize);
    addBinarizeOptions(*binarize, settings);

    CLI::App* clean = addPhotoCommand(app, settings, Action::clean, "clean", "Write each photo with its background removed");
    addImageOutput(*clean, settings, Action::clean);

    CLI::App* read = addPhotoCommand(app, settings, Action::read, "read",
                                     "Write one JSON line per photo with its text lines, boxes and confidences");
    addReadingOptions(*read, settings);
    CLI::App* fields = addPhotoCommand(app, settings, Action::fields, "fields",
                                       "Write one JSON line per receipt photo with its business name, telephone, "
                                       "date and total");
    addReadingOptions(*fields, settings);

    CLI::App* scramble = app.add_subcommand("scramble", "Scramble a file reversibly");
    scramble->callback([&settings] { settings.action = Action::scramble; });
    addScrambleOptions(*scramble, settings);

    CLI::App* unscramble = app.add_subcommand("unscramble", "Restore a scrambled file");
    unscramble->callback([&settings] { settings.action = Action::unscramble; });
    addScrambleOptions(*unscramble, settings);

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    // The subcommands share one Settings, so defaults that differ between them are set after parsing.
    if (settings.format.empty())
        settings.format = defaultFormat(settings.action);
    settings.jobs = usefulJobs(settings.jobs, settings.quiet);
    if (settings.action == Action::read || settings.action == Action::fields) {
        settings.reading.languages = reading::normalisedLanguages(settings.reading.languages);
        const std::string problem = reading::languagesProblem(settings.reading.languages);
        if (!problem.empty()) {
            app.exit(CLI::ValidationError("--lang", problem));
            return 2;
        }
    }
    if (settings.action == Action::binarize) {
        const std::string problem = completeMethodOptions(*binarize, settings);
        if (!problem.empty()) {
            app.exit(CLI::ValidationError("--method " + settings.method, problem));
            return 2;
        }
    }
    return settings;
}

}  // namespace tarvek::cli
