// corrugo-host's command line; see options.h.
#include "programs/options.h"

#include "sim/selection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

#include <sys/stat.h>

namespace programs {

void say(const std::string &message) { std::fprintf(stderr, "corrugo-host: %s\n", message.c_str()); }

int usage_error(const std::string &message)
{
    say(message + "\n(see corrugo-host --help)");
    return USAGE;
}

int failed(const std::string &message)
{
    say(message);
    return FAILED;
}

namespace {

const char USAGE_HEAD[] = R"(Usage: corrugo-host MODEL.ac... --along AXIS --sine AXIS --cycles N [options]
  or:  corrugo-host MODEL.ac... -c TCL [options]
  or:  corrugo-host --gui [MODEL.ac] [options]

Runs the Corrugo plug-in on AC3D models: it moves the selected vertices along
an axis-aligned wave, a sine on one axis and a cosine on another, phased by
distance along a third. With -o, writes the model; with -i, each model to its
own file: only the lines of vertices that moved change, every other byte of
the file is kept. A run that would write nothing is refused (--report prints
what moved). MODEL.ac may be - for standard input; after --, every word is a
model, even one whose name starts with -.
)";

const char USAGE_TAIL[] = R"(
Exit status:
  0 every command ran cleanly on every model; 1 a command showed a message or
  raised a Tcl error (that model is not written); 2 a mistake in the command
  line (nothing is read or written); 3 a model, the plug-in or a stream that
  could not be read or written. With several models, the highest of theirs.

Examples:
  corrugo-host roof.ac --along x --sine y --cycles 5 --amplitude 0.15 -o out.ac
  corrugo-host tube.ac --select vertices --along z --sine x --cosine y \
      --per-unit 1 --amplitude 0.3 --add -o tube.ac
  corrugo-host fence.ac --in left --in right --seed 42 --along y --sine x \
      --cycles 2 --amplitude 0.2 --sine-offset random -o fence-waved.ac
  corrugo-host -i --along x --sine y --cycles 3 --amplitude 0.1 *.ac
  corrugo-host roof.ac -c 'qorvel_go x y n 3 0.2 0 0 0 0 0 0 0' -o out.ac
  cat roof.ac | corrugo-host - --along x --sine y --cycles 5 --amplitude 0.1 -o -
)";

// A whole number from 0 to 4294967295, in decimal digits.
bool parse_whole(const std::string &text, uint32_t *whole)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    size_t digits = text.find_first_not_of('0'); /* leading zeros count for nothing */
    if (digits != std::string::npos && text.size() - digits > 10)
        return false;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > 4294967295ull)
        return false;
    *whole = (uint32_t)value;
    return true;
}

/* {====== The options ====== */

struct Option;
// What an option does with its value (empty for one that takes none): -1 to
// go on, else the exit status.
typedef int (*Act)(Options &options, const Option &option, const std::string &value);

// An option: its name; the name of its value in --help, or null for one that
// takes none; whether that value names a file (which may not be empty); what
// it does; its wave option's slot, for those; and its help, the lines after
// its name in --help (null: it shares the help of the next option, which
// --help names after it, as in "-h, --help").
struct Option {
    const char *name;
    const char *value;
    bool file;
    Act act;
    int slot;
    const char *help;
};

// Help is printed once standard output is known to be no file of the run.
int act_help(Options &o, const Option &, const std::string &)
{
    o.help = true;
    return 0;
}

int act_wave(Options &o, const Option &option, const std::string &value)
{
    o.wave.value[option.slot] = value;
    o.wave.given[option.slot] = true;
    o.wave.any = true;
    return -1;
}

int act_add(Options &o, const Option &, const std::string &)
{
    o.wave.add = o.wave.any = true;
    return -1;
}

int act_select(Options &o, const Option &, const std::string &value)
{
    o.mode = sim::select_mode_named(value);
    if (o.mode == 0)
        return usage_error("--select takes objects, surfaces or vertices, not \"" + value + "\"");
    return -1;
}

int act_tick(Options &o, const Option &option, const std::string &value)
{
    if (!parse_whole(value, &o.tick))
        return usage_error(std::string(option.name) + " takes a whole number from 0 to 4294967295, not \"" +
                           value + "\"");
    o.tick_given = true;
    return -1;
}

int act_threads(Options &o, const Option &, const std::string &value)
{
    uint32_t n;
    if (!parse_whole(value, &n) || n < 1 || n > 1024)
        return usage_error("--threads takes a whole number from 1 to 1024, not \"" + value + "\"");
    o.threads = int(n);
    return -1;
}

// The options that only keep their value, or set a flag.
#define KEEP(field) [](Options &o, const Option &, const std::string &v) { o.field = v; return -1; }
#define ADD(field) [](Options &o, const Option &, const std::string &v) { o.field.push_back(v); return -1; }
#define SET(field) [](Options &o, const Option &, const std::string &) { o.field = true; return -1; }

typedef programs::WaveOptions W;
const Option WAVE_OPTIONS[] = {
    {"--along", "AXIS", false, act_wave, W::ALONG, "the axis the wave runs along: x, y or z"},
    {"--sine", "AXIS", false, act_wave, W::SINE,
     "the axis the sine wave moves: x, y, z or n (none, the\ndefault)"},
    {"--cosine", "AXIS", false, act_wave, W::COSINE,
     "the axis the cosine wave moves (default n); a wave needs\n--sine, --cosine or both"},
    {"--cycles", "N", false, act_wave, W::CYCLES,
     "N cycles over the selection's extent along the axis"},
    {"--per-unit", "N", false, act_wave, W::PER_UNIT,
     "N cycles per model unit (instead of --cycles)"},
    {"--amplitude", "A", false, act_wave, W::AMPLITUDE,
     "how far both waves move the vertices, in model units"},
    {"--sine-amplitude", "A", false, act_wave, W::SINE_AMPLITUDE, nullptr},
    {"--cosine-amplitude", "A", false, act_wave, W::COSINE_AMPLITUDE,
     "the same for one wave (default: --amplitude, else 0)"},
    {"--decay", "P", false, act_wave, W::DECAY,
     "how much both waves fade towards the far end, in percent\n(100: down to nothing; default 0)"},
    {"--sine-decay", "P", false, act_wave, W::SINE_DECAY, nullptr},
    {"--cosine-decay", "P", false, act_wave, W::COSINE_DECAY, "the same for one wave"},
    {"--offset", "P", false, act_wave, W::OFFSET,
     "phase offset of both waves, in percent of a cycle, or\nrandom for a fresh one per object (default 0)"},
    {"--sine-offset", "P", false, act_wave, W::SINE_OFFSET, nullptr},
    {"--cosine-offset", "P", false, act_wave, W::COSINE_OFFSET, "the same for one wave"},
    {"--add", nullptr, false, act_add, 0,
     "add the wave to the current positions (default: replace\nthem, through the lowest selected vertex)"},
    {"--print-command", nullptr, false, SET(print_command), 0,
     "print the qorvel_go command the wave options build (to\npaste into the modeller's Tcl console) and exit"},
    {nullptr, nullptr, false, nullptr, 0, nullptr}};

const Option OTHER_OPTIONS[] = {
    {"-o", "FILE", true, KEEP(output), 0,
     "write the model to FILE after the commands (FILE may be\nMODEL.ac itself; - for standard output); written whole or\n"
     "not at all, and only when every command ran without a\nmessage or Tcl error"},
    {"-i", nullptr, false, SET(in_place), 0, nullptr},
    {"--in-place", nullptr, false, SET(in_place), 0,
     "save each model to its own file, as -o MODEL.ac does (for\none model or several)"},
    {"-c", "TCL", false, ADD(commands), 0, "a Tcl command to run; repeatable, run in order"},
    {"--select", "MODE", false, act_select, 0, "objects (default), surfaces or vertices"},
    {"--in", "NAME", false, ADD(names), 0,
     "limit the selection to the objects named NAME (any depth)\nand, for surfaces and vertices, their descendants;\nrepeatable"},
    {"--plugin", "PATH", true, KEEP(plugin), 0,
     "the plug-in file (default: the corrugo.p of this build or\ninstallation)"},
    {"--seed", "N", false, act_tick, 0, nullptr},
    {"--tick", "N", false, act_tick, 0,
     "start the random offsets' draw at N (0 to 4294967295):\nthe millisecond tick count the plug-in sees, pinned, so\n"
     "random offsets are reproducible"},
    {"--debug", "FILE", true, KEEP(debug), 0,
     "write the host's debug output to FILE (- for standard\nerror); discarded by default"},
    {"--threads", "N", false, act_threads, 0,
     "read and write a large model on at most N threads (1 to\n1024; default: the processors this run may use, at most\n"
     "2, which is as many as help); what comes out is the same"},
    {"--undo", nullptr, false, SET(undo), 0, "after the commands, undo the newest undo step"},
    {"--report", nullptr, false, SET(report), 0,
     "print how many vertices moved and the bounding box before\nand after (to standard error with -o -)"},
    {"--gui", nullptr, false, SET(gui), 0,
     "open the viewer: the model in three views, the selection,\nand the Tools menu with the plug-in's entries (-c commands\n"
     "run once the window is up)"},
    {"--version", nullptr, false, SET(version), 0, "print the version and the plug-in's about text"},
    {"-h", nullptr, false, act_help, 0, nullptr},
    {"--help", nullptr, false, act_help, 0, "show this help"},
    {nullptr, nullptr, false, nullptr, 0, nullptr}};

#undef KEEP
#undef ADD
#undef SET

const Option *find_option(const std::string &name)
{
    for (const Option *table : {WAVE_OPTIONS, OTHER_OPTIONS})
        for (const Option *o = table; o->name; o++)
            if (name == o->name)
                return o;
    return nullptr;
}

// The lines of --help for the options of "table": each name with its value,
// those that share a help named together, and the help from column 20 on.
std::string option_lines(const Option *table)
{
    std::string lines, label;
    for (const Option *o = table; o->name; o++) {
        label += (label.empty() ? "" : ", ") + std::string(o->name) +
                 (o->value ? std::string(" ") + o->value : "");
        if (!o->help)
            continue;
        std::string help = o->help, indent(20, ' ');
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += 21)
            help.insert(at + 1, indent);
        lines += "  " + label + (label.size() < 18 ? std::string(18 - label.size(), ' ') : "\n" + indent) +
                 help + "\n";
        label.clear();
    }
    return lines;
}

} // namespace

std::string usage()
{
    return USAGE_HEAD + std::string("\nWave options (they build one qorvel_go command, run before any -c):\n") +
           option_lines(WAVE_OPTIONS) + "\nOptions:\n" + option_lines(OTHER_OPTIONS) + USAGE_TAIL;
}

/* }====== */

// Whether the models given go with the other options, and the run writes
// something: -1 to go on, else the exit status.
static int check_models(Options &options)
{
    const std::vector<std::string> &models = options.models;
    options.model = models.empty() ? "" : models[0];
    if (models.empty() && !options.gui)
        return usage_error("no model file given");
    if (options.gui)
        return models.size() > 1 ? usage_error("the viewer opens one model, not " + std::to_string(models.size()))
               : options.model == "-"
                   ? usage_error("the viewer reads its model from a file, not from standard input")
                   : -1;
    if (std::count(models.begin(), models.end(), "-") > 1)
        return usage_error("standard input can be read only once");
    if (options.in_place && !options.output.empty())
        return usage_error("-i and -o cannot be given together: -i saves each model to its own file");
    if (models.size() > 1 && !options.output.empty())
        return usage_error("-o writes one model, not " + std::to_string(models.size()) +
                           "; -i saves each to its own file");
    if (options.in_place && std::count(models.begin(), models.end(), "-"))
        return usage_error("-i saves each model to its own file, and standard input has none; use -o FILE or -o -");
    if (!options.in_place && options.output.empty() && !options.report)
        return usage_error("nothing would be written: -o FILE writes the model to FILE, -o - to standard "
                           "output, -i each model to its own file; --report prints what moved");
    std::set<std::pair<dev_t, ino_t>> seen; /* a model saved twice would be waved twice */
    struct stat st;
    for (const std::string &model : models)
        if (options.in_place && stat(model.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second)
            return usage_error("-i: " + model + " is a model given before (the same file)");
    return -1;
}

// Fills "options" from the command line; returns -1 to go on, 0 to print
// the help or the command and end, else the exit status.
int parse_options(int argc, char **argv, Options &options)
{
    bool options_ended = false; /* after "--", every word is a model */
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--" && !options_ended) {
            options_ended = true;
            continue;
        }
        if (options_ended) {
            options.models.push_back(arg);
            continue;
        }
        std::string value;
        size_t equals = arg.find('=');
        bool inline_value = arg.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inline_value) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        const Option *option = find_option(arg);
        if (!option && (inline_value || (arg.size() > 1 && arg[0] == '-')))
            return usage_error("unknown option " + arg);
        if (!option) {
            options.models.push_back(arg);
            continue;
        }
        if (option->value && !inline_value) {
            if (i + 1 >= argc)
                return usage_error("option " + arg + " needs a value");
            value = argv[++i];
        }
        if (!option->value && inline_value)
            return usage_error("option " + arg + " takes no value");
        if (option->file && value.empty())
            return usage_error("option " + arg + " needs a file name, not an empty one");
        int status = option->act(options, *option, value);
        if (status >= 0)
            return status;
    }
    if (options.version)
        return -1;
    if (options.wave.any) {
        std::string command, error;
        if (!programs::wave_command(options.wave, command, error))
            return usage_error(error);
        options.commands.insert(options.commands.begin(), command);
        if (options.print_command)
            return 0;
    } else if (options.print_command) {
        return usage_error("--print-command needs the wave options (--along and the others)");
    }
    return check_models(options);
}

} // namespace programs
