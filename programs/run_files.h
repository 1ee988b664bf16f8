// The files of a run, known by what they are (device and inode), not by how
// they were named: the model as opened, the output, the plug-in and the
// script beside it, the program and every library it has loaded, and the
// files behind the standard streams. Made once, before the model is read;
// every guard of a file the run is asked to write (--debug, -o, the viewer's
// Save) asks it, so that no other name for one of them (a link, /dev/stdin,
// /proc/self/fd/0, a library found through the program's run path) slips by.
#ifndef CORRUGO_PROGRAMS_RUN_FILES_H
#define CORRUGO_PROGRAMS_RUN_FILES_H

#include <string>
#include <vector>

#include <sys/stat.h>

namespace programs {

// What a file is to the run, in the order a file that is several is named by.
enum RunFileRole {
    RUN_MODEL,           // the model read (a named file, or standard input's)
    RUN_OUTPUT,          // the file -o names
    RUN_OUTPUT_STREAM,   // standard output, with -o -
    RUN_PLUGIN,          // the plug-in file
    RUN_SCRIPT,          // the dialog script beside it
    RUN_PROGRAM,         // corrugo-host itself
    RUN_LIBRARY,         // a shared library the program has loaded
    RUN_STANDARD_INPUT,  // what standard input reads, when a regular file
    RUN_STANDARD_OUTPUT, // what standard output writes, when a regular file
    RUN_STANDARD_ERROR,  // what standard error writes, when a regular file
};

struct RunFile {
    RunFileRole role;
    bool exists;       // else known by its place alone
    dev_t device;
    ino_t inode;
    std::string name;  // a file that does not exist yet: its path as given
};

struct RunFiles {
    std::vector<RunFile> files;
};

// The files of a run that reads "models" ("-": standard input), writes
// "output" ("-": standard output; empty: nothing) and loads "plugin".
RunFiles run_files(const std::vector<std::string> &models, const std::string &output, const std::string &plugin);

// The first of the run's files, from the role "from" on, that the file "st"
// is; or null.
const RunFile *run_file_of(const RunFiles &files, const struct stat &st,
                           RunFileRole from = RUN_MODEL);

// The first of the run's files, from the role "from" on, that "path" names:
// the file it names when it exists, else one that does not exist yet at the
// same place; or null.
const RunFile *run_file_named(const RunFiles &files, const std::string &path,
                              RunFileRole from = RUN_MODEL);

// The first of the run's files that it reads or runs on (the model, the
// plug-in, its script, the program, a library) that the file "st" is; or
// null. Nothing may be printed into one of them.
const RunFile *read_by_run(const RunFiles &files, const struct stat &st);

// Whether the file "path" names is one the program runs on (the plug-in,
// its script, the program, a library): a model written there would take its
// place. That file, or null.
const RunFile *runs_on(const RunFiles &files, const std::string &path);

// What the file is to the run, for messages: "the model file", "a library
// corrugo-host has loaded"...
const char *run_file_role(RunFileRole role);

// Why debug output may not go to the file "debug" names, which is "f" of
// the run's files (null: none), or empty.
std::string debug_refusal(const std::string &debug, const RunFile *f);

// Why standard output may not be printed to, or empty: it may write to no
// file the run reads or runs on, as cat refuses an input file that is its
// output. "model_out": the model goes there (-o -).
std::string standard_output_refusal(const RunFiles &files, bool model_out);

// Why standard error may not be written to, or empty: as standard output,
// it may write to no file the run reads or runs on.
std::string standard_error_refusal(const RunFiles &files);

// Why the run may not write where -o "output" and --debug "debug" say (either
// may be empty), or empty: -o may name the model (it is then saved in
// place), not a file the program runs on; --debug no file of the run; and
// standard output as above.
std::string outputs_refusal(const std::string &output, const std::string &debug, const RunFiles &files);

} // namespace programs

#endif
