// Saving a user's file as a careful editor does: through symbolic links, with
// its owner, group, mode and hard links kept, never over a file the user may
// not write, and with nothing left behind when the save is interrupted. Also
// the command-line options that name files, and input that is no model.
#include "host_folder.h"
#include "shell.h"
#include "acfile/acfile.h"
#include "acfile/save_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace host_folder;

const char WAVE[] = "qorvel_go z x y 1 0.3 0.3 0 0 0 0 1 1";
// Hides /proc from the run (with run's "own_mounts"): an empty file system
// mounted over it. The programs in "work/bin" then find their library as an
// installed copy does, by its folder (a run path of $ORIGIN needs /proc).
const std::string HIDE_PROC = "mount -t tmpfs -o size=4k tmpfs /proc || exit 97\n"
                              "export LD_LIBRARY_PATH=\"$PWD/bin\"";

// One object of "n" vertices, the i-th at x = i + "fraction".
std::string long_model(int n, const std::string &fraction)
{
    std::string model = "AC3Db\nOBJECT poly\nnumvert " + std::to_string(n) + "\n";
    for (int i = 0; i < n; i++)
        model += std::to_string(i) + fraction + " 0.5 0.125\n";
    return model + "kids 0\n";
}

class Saving : public HostFolder {
protected:
    // The tube waved, as corrugo-host writes it to a fresh file.
    std::string waved()
    {
        example("tube.ac");
        Outcome r = run({"tube.ac", "-c", WAVE, "-o", "expected.ac"});
        EXPECT_EQ(r.status, 0) << r.err;
        std::string text = after("expected.ac");
        fs::remove(dir / "work" / "expected.ac");
        return text;
    }
    struct stat status_of(const char *name) const
    {
        struct stat st {};
        EXPECT_EQ(lstat((dir / "after" / name).c_str(), &st), 0) << name;
        return st;
    }
};

/* {====== The system refuses a write ====== */

TEST_F(Saving, AnOutputThatCannotBeCreatedExitsTwoAndLeavesEveryFileAsItWas)
{
    const std::string tube = example("tube.ac");
    fs::create_directories(dir / "work" / "folder");
    // (a pipe of the test's own rather than a device: a fault in the code
    // under test must not be able to replace a file of the system's)
    ASSERT_EQ(mkfifo((dir / "work" / "pipe").c_str(), 0644), 0);
    const struct {
        const char *output, *says;
    } cases[] = {
        {"no/such/folder/out.ac", "corrugo-host: no/such/folder/out.ac: cannot write: No such file or directory\n"},
        {"folder", "corrugo-host: folder: cannot write: Is a directory\n"},
        {"pipe", "corrugo-host: pipe: cannot write: not a regular file\n"},
    };
    for (const auto &c : cases) {
        Outcome r = run({"tube.ac", "-c", WAVE, "-o", c.output});
        EXPECT_EQ(r.status, 3) << c.output;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(left(), (std::vector<std::string>{"folder", "pipe", "tube.ac"})) << c.output;
        EXPECT_EQ(fs::status(dir / "work" / "pipe").type(), fs::file_type::fifo) << c.output;
        EXPECT_TRUE(kept("tube.ac", tube));
    }
}

// The system refuses part of the write: a file size limit (with its signal
// SIGXFSZ ignored, or left to its default action, which would end the host
// mid-write and leave its hidden temporary ".tube.ac.tmp......" behind; 20
// blocks of 512 bytes stop the 47 kB model part way), a full disk (64 kB
// holds the model once, not twice: the new copy runs out), a read-only file
// system, a folder the user may not write (root may write anywhere: the host
// runs as nobody instead). The model is kept and nothing is left beside it.
TEST_F(Saving, AWriteTheSystemRefusesKeepsTheModelAndLeavesNothing)
{
    const std::string tube = example("tube.ac");
    const struct {
        const char *what, *model, *setup;
        bool mounts, nobody;
        const char *says;
    } cases[] = {
        {"a file size limit", "tube.ac", "trap '' XFSZ; ulimit -f 20", false, false,
         "corrugo-host: tube.ac: cannot write: File too large\n"},
        {"a file size limit and its signal", "tube.ac", "trap - XFSZ; ulimit -f 20", false, false,
         "corrugo-host: tube.ac: cannot write: File too large\n"},
        {"a full disk", "full/tube.ac",
         "mkdir full && mount -t tmpfs -o size=64k tmpfs full && cp tube.ac full/ || exit 97", true,
         false, "corrugo-host: full/tube.ac: cannot write: No space left on device\n"},
        {"a read-only file system", "tube.ac", "mount --bind -o ro . . && cd \"$PWD\" || exit 97",
         true, false, "corrugo-host: tube.ac: cannot write: Read-only file system\n"},
        {"a folder without write permission", "tube.ac", "chmod 0555 .", false, true,
         "corrugo-host: tube.ac: cannot write: Permission denied\n"},
    };
    for (const auto &c : cases) {
        if (c.mounts && !can_mount()) {
            std::printf("skipped %s: needs root and mount namespaces\n", c.what);
            continue;
        }
        const std::string wrapper = c.nobody ? as_nobody() : "";
        Outcome r = run({c.model, "-c", WAVE, "-o", c.model}, c.setup, wrapper, c.mounts);
        program = CORRUGO_HOST_PATH;
        EXPECT_EQ(r.status, 3) << c.what;
        EXPECT_EQ(r.err, c.says) << c.what;
        const bool full = std::string(c.model) == "full/tube.ac";
        const std::vector<std::string> files = {"full", "full/tube.ac", "tube.ac"};
        EXPECT_EQ(left(), full ? files : std::vector<std::string>{"tube.ac"}) << c.what;
        EXPECT_TRUE(kept(c.model, tube)) << c.what;
        fs::remove_all(dir / "work" / "full"); /* the mount point, left empty */
    }
}

/* }====== */

/* {====== Other programs ====== */

// Another program that changes the model while corrugo-host runs (here
// between reading and writing, by a -c command), in place or by renaming a
// new file over it: whatever the output, nothing is written, and the model is
// as the other program left it.
TEST_F(Saving, AModelChangedDuringTheRunIsNotWrittenFrom)
{
    const std::string model = long_model(80000, ".5"); /* over 1 MiB: read on two threads */
    std::string same_size = model;
    same_size[same_size.rfind(".5 0.5")] = '2';
    const std::string shorter = long_model(10, ".25");
    put("shorter.ac", shorter);
    put("same.ac", same_size);
    const struct {
        const char *command;
        std::string becomes;
    } changes[] = {
        {"exec cp shorter.ac F.ac", shorter},
        {"exec cp same.ac F.ac", same_size},
        {"exec truncate -s 1000 F.ac", model.substr(0, 1000)},
        {"file copy shorter.ac new.ac; file rename -force new.ac F.ac", shorter},
    };
    // The model named, or read from standard input redirected from the file.
    const struct {
        const char *model, *wrapper, *name;
    } inputs[] = {{"F.ac", "", "F.ac"},
                  {"-", "sh -c '\"$0\" \"$@\" <F.ac'", "standard input"}};
    for (const auto &change : changes)
        for (const auto &input : inputs)
        for (const char *threads : {"1", "2"})
            for (const char *output : {"F.ac", "./F.ac", "out.ac", "-"}) {
                SCOPED_TRACE(std::string(change.command) + ", threads " + threads + ", -o " + output +
                             ", model " + input.model);
                put("F.ac", model);
                Outcome r = run({input.model, "--threads", threads, "-c", WAVE, "-c", change.command,
                                 "-o", output}, "", input.wrapper);
                EXPECT_EQ(r.status, 3);
                // The model is named as it was given; standard input by the
                // name -o gives its file.
                const bool in_place = std::string(output).find("F.ac") != std::string::npos;
                EXPECT_EQ(r.err, "corrugo-host: " + std::string(in_place && input.model == std::string("-") ? output : input.name) +
                                     ": changed by another program while corrugo-host ran; "
                                     "nothing was written\n");
                EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));
                EXPECT_TRUE(kept("F.ac", change.becomes));
                fs::remove(dir / "work" / "out.ac");
                EXPECT_EQ(left(), (std::vector<std::string>{"F.ac", "same.ac", "shorter.ac"}));
            }
}

// Two runs on one file: one reads it while the other saves into it in place
// (it has a second name). The saving run waits for the reading one, whose
// output is then that of the file it read; then it writes its own.
TEST_F(Saving, ARunSavingInPlaceWaitsForOneReadingTheFile)
{
    const std::string model = long_model(80000, ".5");
    put("F.ac", model);
    fs::create_hard_link(dir / "work" / "F.ac", dir / "work" / "L.ac");
    const char OTHER[] = "qorvel_go x z n 2 0.5 0 0 0 0 0 0 0";
    ASSERT_EQ(run({"F.ac", "-c", WAVE, "-o", "alone.ac"}).status, 0);
    ASSERT_EQ(run({"F.ac", "-c", OTHER, "-o", "other-alone.ac"}).status, 0);
    const std::string alone = after("alone.ac"), other_alone = after("other-alone.ac");
    // The second run starts in the background from the first one's command;
    // the first writes once the second waits for a lock on the file, as
    // /proc/locks shows (or after 5 s, when it never does).
    const std::string second = quote(program) + " L.ac -c " + quote(OTHER) +
                               " -o L.ac 2>second.err; echo $? >second.status";
    struct stat st;
    ASSERT_EQ(stat((dir / "work" / "F.ac").c_str(), &st), 0);
    const std::string waiting =
        "for {set i 0} {$i < 500} {incr i} {set f [open /proc/locks]; set locks [read $f]; "
        "close $f; if {[regexp {\\->[^\\n]*:" + std::to_string(st.st_ino) +
        " } $locks]} break; after 10}";
    Outcome r = run({"F.ac", "-c", WAVE, "-c", "exec sh -c {" + second + "} &", "-c", waiting,
                     "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("out.ac", alone));
    for (int waited = 0; waited < 1000 && !fs::exists(dir / "work" / "second.status"); waited++)
        usleep(20000);
    EXPECT_EQ(slurp(dir / "work" / "second.status"), "0\n") << slurp(dir / "work" / "second.err");
    EXPECT_EQ(slurp(dir / "work" / "L.ac"), other_alone);
}

/* }====== */

/* {====== Links, owners and permissions ====== */

TEST_F(Saving, ThroughSymbolicLinksTheFileTheyNameIsReplacedAndTheLinksStay)
{
    const std::string expected = waved();
    fs::create_directories(dir / "work" / "models");
    fs::rename(dir / "work" / "tube.ac", dir / "work" / "models" / "tube.ac");
    fs::create_symlink("models/tube.ac", dir / "work" / "second");
    fs::create_symlink("second", dir / "work" / "first");
    fs::create_symlink("models/new.ac", dir / "work" / "dangling");
    Outcome r = run({"first", "-c", WAVE, "-o", "first"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("models/tube.ac", expected));
    EXPECT_TRUE(S_ISLNK(status_of("first").st_mode));
    EXPECT_TRUE(S_ISLNK(status_of("second").st_mode));
    r = run({"models/tube.ac", "-c", WAVE, "-o", "dangling"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(S_ISLNK(status_of("dangling").st_mode));
    EXPECT_FALSE(after("models/new.ac").empty());
    EXPECT_EQ(left(), (std::vector<std::string>{"dangling", "first", "models", "models/new.ac",
                                                "models/tube.ac", "second"}));
}

TEST_F(Saving, TheFileKeepsItsOwnerGroupAndMode)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the model to another user";
    const std::string expected = waved();
    // An extended attribute, and an access control list that lets user 65534
    // write (the entries: owner, that user, group, mask, others).
    const std::string work = (dir / "work" / "tube.ac").string();
    const uint32_t acl[] = {2, 0x60001, ~0u, 0x60002, 65534, 0x40004, ~0u, 0x60010, ~0u, 0x40020, ~0u};
    bool attributes = setxattr(work.c_str(), "user.note", "kept", 4, 0) == 0 &&
                      setxattr(work.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) == 0;
    Outcome r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"},
                    "chown 65534:65533 tube.ac && chmod 2660 tube.ac");
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st = status_of("tube.ac");
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65533u);
    EXPECT_EQ(st.st_mode & 07777, 02660u);
    EXPECT_TRUE(kept("tube.ac", expected));
    if (!attributes)
        GTEST_SKIP() << "no extended attributes on this file system";
    char note[8] = {};
    EXPECT_EQ(getxattr(work.c_str(), "user.note", note, sizeof note), 4);
    EXPECT_STREQ(note, "kept");
    uint32_t now[16] = {};
    EXPECT_EQ(getxattr(work.c_str(), "system.posix_acl_access", now, sizeof now), ssize_t(sizeof acl));
    EXPECT_EQ(now[3], 0x60002u) << "the entry of user 65534";
    EXPECT_EQ(now[4], 65534u);
}

TEST_F(Saving, AFileTheUserMayNotWriteIsRefusedAndKept)
{
    const std::string expected = waved(), tube = example("tube.ac");
    // Read-only for everybody: refused even for root, as rm and editors ask
    // first. A write bit for anybody lets root write it (its owner only the
    // owner's bit), and the file keeps its mode.
    const bool root = geteuid() == 0;
    for (mode_t mode : {0444, 0555, 0000, 0464, 0446, 0644, 0200}) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o", unsigned(mode));
        SCOPED_TRACE(octal);
        put("tube.ac", tube);
        Outcome r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"}, std::string("chmod ") + octal + " tube.ac");
        if (mode & (root ? 0222 : 0200)) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(kept("tube.ac", expected));
        } else {
            EXPECT_EQ(r.status, 3);
            EXPECT_EQ(r.err, "corrugo-host: tube.ac: cannot write: Permission denied\n");
            EXPECT_TRUE(kept("tube.ac", tube));
        }
        EXPECT_EQ(status_of("tube.ac").st_mode & 07777, mode);
        EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"});
    }

    std::string nobody = as_nobody();
    if (nobody.empty())
        GTEST_SKIP() << "needs root to run as another user";
    // Another user's file in the user's own folder: renaming over it would work.
    put("tube.ac", tube);
    Outcome r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"},
                    "chmod 0644 tube.ac && chown 65534 . || exit 97", nobody);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: tube.ac: cannot write: Permission denied\n");
    EXPECT_TRUE(kept("tube.ac", tube));
    EXPECT_EQ(status_of("tube.ac").st_uid, 0u);
}

TEST_F(Saving, AFileRenamingWouldChangeIsWrittenInPlace)
{
    std::string nobody = as_nobody();
    if (nobody.empty())
        GTEST_SKIP() << "needs root to run as another user";
    const std::string expected = waved();
    // Another user's file that the user may write: a new file would be the user's.
    Outcome r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"},
                    "chmod 0666 tube.ac && chown 65534 . || exit 97", nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("tube.ac", expected));
    EXPECT_EQ(status_of("tube.ac").st_uid, 0u);
    // The user's own file, of a group the user is not in: a new file could
    // not be given that group.
    example("tube.ac");
    r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"},
            "chown 65534:65533 . tube.ac && chmod 0664 tube.ac || exit 97", nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("tube.ac", expected));
    EXPECT_EQ(status_of("tube.ac").st_gid, 65533u);
    // The user's own file in a folder the user may not write.
    r = run({"tube.ac", "-c", "qorvel_go x y n 1 0.1 0 0 0 0 0 0 0", "-o", "tube.ac"},
            "chown 65534 . tube.ac && chmod 0555 . || exit 97", nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(kept("tube.ac", expected));
    EXPECT_EQ(left(), (std::vector<std::string>{"tube.ac"}));
    // A folder the user may write but not list: replaced by renaming all the
    // same, though the folder cannot be opened to be synced.
    example("tube.ac");
    r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"}, "chown 65534 . tube.ac && chmod 0300 . || exit 97", nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("tube.ac", expected));
    EXPECT_EQ(left(), (std::vector<std::string>{"tube.ac"}));
    // Another user's file that the user may write but not read: written in
    // place all the same (with no read-back, which would need to read it).
    example("tube.ac");
    put("out.ac", "old");
    r = run({"tube.ac", "-c", WAVE, "-o", "out.ac"},
            "chmod 0755 . && chown 65534 . && chmod 0222 out.ac || exit 97", nobody);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("out.ac", expected));
    EXPECT_EQ(status_of("out.ac").st_uid, 0u);
    EXPECT_EQ(status_of("out.ac").st_mode & 07777, 0222u);
    EXPECT_EQ(left(), (std::vector<std::string>{"out.ac", "tube.ac"}));
}

TEST_F(Saving, EveryHardLinkSeesTheNewModel)
{
    const std::string expected = waved();
    fs::create_hard_link(dir / "work" / "tube.ac", dir / "work" / "other-name.ac");
    Outcome r = run({"tube.ac", "-c", WAVE, "-o", "tube.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("tube.ac", expected));
    EXPECT_TRUE(kept("other-name.ac", expected));
    EXPECT_EQ(status_of("tube.ac").st_nlink, 2u);
    EXPECT_EQ(status_of("tube.ac").st_ino, status_of("other-name.ac").st_ino);
    EXPECT_EQ(left(), (std::vector<std::string>{"other-name.ac", "tube.ac"}));
    // A model whose numbers are written shorter: nothing of its old end stays.
    std::string padded = long_model(2000, ".000000000000000000");
    for (size_t at = 0; (at = padded.find(" 0.5 ", at)) != std::string::npos;)
        padded.replace(at, 5, " 0.500000000000000000 ");
    put("padded.ac", padded);
    ASSERT_EQ(run({"padded.ac", "-c", WAVE, "-o", "shorter.ac"}).status, 0);
    const std::string shorter = after("shorter.ac");
    ASSERT_LT(shorter.size(), padded.size());
    fs::remove(dir / "work" / "shorter.ac");
    fs::create_hard_link(dir / "work" / "padded.ac", dir / "work" / "link.ac");
    r = run({"padded.ac", "-c", WAVE, "-o", "padded.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("padded.ac", shorter));
    EXPECT_TRUE(kept("link.ac", shorter));
    // A model of exactly two 64 KiB pieces, read back to its end: the end
    // falls where a third piece would start.
    std::string exact = "AC3Db\nOBJECT poly\nname \"\"\nnumvert 1\n0 0 0\nkids 0\n";
    exact.insert(exact.find("\"\"") + 1, std::string(2 * 65536 - exact.size(), 'n'));
    ASSERT_EQ(exact.size(), 2u * 65536);
    put("exact.ac", exact);
    fs::create_hard_link(dir / "work" / "exact.ac", dir / "work" / "exact-link.ac");
    r = run({"exact.ac", "-c", "set x 1", "-o", "exact.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("exact-link.ac", exact));
}

TEST_F(Saving, ALongNameLeavesRoomForTheTemporaryFile)
{
    const std::string expected = waved();
    std::string name(251, 'n');
    name += ".ac"; // 254 characters, one short of the longest
    Outcome r = run({"tube.ac", "-c", WAVE, "-o", name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept(name.c_str(), expected));
    // Without unnamed temporary files, the named one is shortened.
    std::string error;
    fs::path target = dir / "work" / name;
    EXPECT_TRUE(acfile::save_file(target.string(), [](int fd) { return write(fd, "x", 1) == 1 ? 0 : errno; },
                               error, false))
        << error;
    EXPECT_EQ(slurp(target), "x");
}

/* }====== */

/* {====== Interrupted saves ====== */

// Saves "path" in a child process whose writer, half way, sends itself
// "signal_number"; returns how the child ended.
int interrupted_save(const fs::path &path, int signal_number, bool unnamed)
{
    pid_t child = fork();
    if (child == 0) {
        std::string error;
        acfile::save_file(path.string(), [&](int fd) {
            if (write(fd, "half", 4) != 4)
                return errno;
            raise(signal_number);
            return 0;
        }, error, unnamed);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(Saving, AnInterruptedSaveLeavesTheFileAndNothingElse)
{
    fs::path target = dir / "work" / "model.ac";
    for (bool unnamed : {true, false})
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            put("model.ac", "before");
            int status = interrupted_save(target, s, unnamed);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == s) << strsignal(s);
            EXPECT_EQ(slurp(target), "before");
            std::vector<std::string> names;
            for (const auto &entry : fs::directory_iterator(dir / "work"))
                names.push_back(entry.path().filename().string());
            EXPECT_EQ(names, std::vector<std::string>{"model.ac"})
                << strsignal(s) << (unnamed ? ", unnamed" : ", named");
        }
    // An unnamed temporary file has no name to leave, even on SIGKILL.
    int status = interrupted_save(target, SIGKILL, true);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "work"), fs::directory_iterator()), 1);
}

TEST_F(Saving, SignalsDuringALargeSaveLeaveTheOldOrTheNewModel)
{
    // About 6 MB, so that a signal often comes while the model is written.
    put("big.ac", long_model(300000, ".25"));
    std::string script = "cd " + quote((dir / "work").string()) + " || exit 99\n"
                         "for d in 0.05 0.1 0.15 0.2 0.25 0.3; do for s in INT TERM HUP; do\n"
                         "  " + quote(program) + " big.ac -c 'qorvel_go x y z 1 1 1 0 0 0 0 1 1' "
                         "-o big.ac 2>/dev/null &\n"
                         "  sleep $d; kill -$s $! 2>/dev/null; wait $!\n"
                         "  ls -A | grep -v '^big.ac$' && exit 1\n"
                         "done; done; exit 0\n";
    std::ofstream(dir / "signals.sh") << script;
    EXPECT_EQ(std::system(("sh " + quote((dir / "signals.sh").string())).c_str()), 0)
        << "a temporary file was left behind";
    acfile::Model read;
    acfile::AcSource source;
    std::string error;
    ASSERT_TRUE(acfile::read_ac_file((dir / "work" / "big.ac").string(), read, source, error)) << error;
    EXPECT_EQ(acfile::count_vertices(read), 300000u);
}

/* }====== */

/* {====== Models far from the origin ====== */

TEST_F(Saving, AWaveFarFromTheOriginRewritesOnlyTheNumbersItMoves)
{
    const std::string model = "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"survey\"\n"
                              "loc 512345.6 5412345.7 0\nnumvert 3\n1.13 0.27 0\n2.5 0.27 0\n"
                              "3.75 0.5 0\nkids 0\n";
    put("far.ac", model);
    Outcome r = run({"far.ac", "-c", "qorvel_go x z n 1 0.1 0 0 0 25 0 1 0", "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(after("out.ac"), "AC3Db\nOBJECT world\nkids 1\nOBJECT poly\nname \"survey\"\n"
                               "loc 512345.6 5412345.7 0\nnumvert 3\n1.13 0.27 0.1\n"
                               "2.5 0.27 -0.098883085\n3.75 0.5 0.1\nkids 0\n");
    r = run({"far.ac", "-c", "qorvel_go x z n 1 0.1 0 0 0 25 0 1 0", "--undo", "-o", "out.ac"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("out.ac", model));
}

/* }====== */

/* {====== Options that name files, and input that is no model ====== */

TEST_F(Saving, NamesAndStreamsARunCannotUseAreRefused)
{
    const std::string tube = example("tube.ac");
    fs::create_symlink("tube.ac", dir / "work" / "link.ac");
    const fs::path build = fs::path(CORRUGO_HOST_PATH).parent_path();
    const std::string plugin = slurp(build / "corrugo.p"), script = slurp(build / "corrugo.tcl");
    put("corrugo.p", plugin);
    put("corrugo.tcl", script);
    fs::create_hard_link(dir / "work" / "tube.ac", dir / "work" / "hard.ac");
    // A copy of the programs, the plug-in found beside them by default.
    fs::create_directories(dir / "work" / "bin");
    for (const char *name : {"corrugo-host", "libcorrugo_sim.so", "corrugo.p", "corrugo.tcl"})
        fs::copy_file(build / name, dir / "work" / "bin" / name);
    const std::string copy = (dir / "work" / "bin" / "corrugo-host").string();
    const std::string library = slurp(build / "libcorrugo_sim.so"), host = slurp(build / "corrugo-host");
    const std::vector<std::string> files = {"bin", "bin/corrugo-host", "bin/corrugo.p", "bin/corrugo.tcl",
                                            "bin/libcorrugo_sim.so", "corrugo.p", "corrugo.tcl",
                                            "hard.ac", "link.ac", "tube.ac"};
    const std::string in = "sh -c '\"$0\" \"$@\" <tube.ac'";
    const struct {
        std::vector<std::string> args;
        const char *says;
        std::string wrapper = "";
        bool copied = false; /* run by the copy in bin */
        bool no_proc = false; /* /proc hidden */
    } cases[] = {
        {{"tube.ac", "-o", ""}, "option -o needs a file name, not an empty one"},
        {{"tube.ac", "--debug="}, "option --debug needs a file name, not an empty one"},
        {{"tube.ac", "--plugin", ""}, "option --plugin needs a file name, not an empty one"},
        {{"tube.ac", "-c", WAVE, "--debug", "tube.ac"},
         "--debug tube.ac names the model file; debug output would overwrite it"},
        {{"tube.ac", "-c", WAVE, "--debug", "link.ac"},
         "--debug link.ac names the model file; debug output would overwrite it"},
        {{"tube.ac", "-c", WAVE, "-o", "out.ac", "--debug", "./out.ac"},
         "--debug ./out.ac names the output file of -o"},
        {{"tube.ac", "-c", WAVE, "--plugin", "./corrugo.p", "--debug", "corrugo.p"},
         "--debug corrugo.p names the plug-in file"},
        {{"tube.ac", "-c", WAVE, "--plugin", "./corrugo.p", "--debug", "corrugo.tcl"},
         "--debug corrugo.tcl names the dialog script beside the plug-in"},
        {{"tube.ac", "-c", WAVE, "--plugin", "new.p", "-o", "./new.p"}, "-o ./new.p names the plug-in file"},
        {{"tube.ac", "-c", WAVE, "-o", "-", "--debug", "/dev/stdout"},
         "--debug /dev/stdout names standard output, where -o - writes the model"},
        // Other names for the model: a hard link, and the file behind
        // standard input, by its own name and by the names of the stream.
        {{"tube.ac", "-c", WAVE, "--debug", "hard.ac"},
         "--debug hard.ac names the model file; debug output would overwrite it"},
        {{"-", "-c", WAVE, "--debug", "tube.ac", "-o", "out.ac"},
         "--debug tube.ac names the model file; debug output would overwrite it", in},
        {{"-", "-c", WAVE, "--debug", "/dev/stdin"},
         "--debug /dev/stdin names the model file; debug output would overwrite it", in},
        {{"-", "-c", WAVE, "--debug", "/proc/self/fd/0"},
         "--debug /proc/self/fd/0 names the model file; debug output would overwrite it", in},
        {{"-", "-c", WAVE, "--debug", "/dev/fd/0"},
         "--debug /dev/fd/0 names the model file; debug output would overwrite it",
         "sh -c '\"$0\" \"$@\" 0<>tube.ac'"},
        {{"-", "-c", WAVE, "--debug", "/dev/stdout", "-o", "out.ac"},
         "--debug /dev/stdout names the model file; debug output would overwrite it",
         "sh -c '\"$0\" \"$@\" <tube.ac >>tube.ac'"},
        {{"tube.ac", "-c", WAVE, "--debug", "../err.txt"},
         "--debug ../err.txt names the file standard error writes to"},
        {{"tube.ac", "-c", WAVE, "--debug", "../out.txt"},
         "--debug ../out.txt names the file standard output writes to"},
        {{"tube.ac", "-c", WAVE, "--debug", "corrugo.tcl"}, "--debug corrugo.tcl names the file standard input reads",
         "sh -c '\"$0\" \"$@\" <corrugo.tcl'"},
        // The files the program runs on, the plug-in found in its default
        // place, from another working folder.
        {{"tube.ac", "-c", WAVE, "--debug", "bin/libcorrugo_sim.so"},
         "--debug bin/libcorrugo_sim.so names a library corrugo-host has loaded", "", true},
        {{"tube.ac", "-c", WAVE, "--debug", "bin/corrugo.p"},
         "--debug bin/corrugo.p names the plug-in file", "", true},
        {{"tube.ac", "-c", WAVE, "--debug", "bin/corrugo.tcl"},
         "--debug bin/corrugo.tcl names the dialog script beside the plug-in", "", true},
        {{"tube.ac", "-c", WAVE, "--debug", "bin/corrugo-host"},
         "--debug bin/corrugo-host names corrugo-host itself", "", true},
        {{"tube.ac", "-c", WAVE, "-o", "bin/libcorrugo_sim.so"},
         "-o bin/libcorrugo_sim.so names a library corrugo-host has loaded", "", true},
        // Without /proc, the program is known by the name it was run by.
        {{"../tube.ac", "-c", WAVE, "-o", "./corrugo-host"}, "-o ./corrugo-host names corrugo-host itself",
         "sh -c 'cd bin && exec ./corrugo-host \"$@\"'", true, true},
        {{"tube.ac", "-c", WAVE, "-o", "-"}, "-o - writes to standard output, which is the model file",
         "sh -c '\"$0\" \"$@\" >>tube.ac'"},
        // Standard output joined to a file the run reads or runs on, for
        // whatever would be printed there: refused before anything is.
        {{"tube.ac", "-c", WAVE, "-o", "-"}, "-o - writes to standard output, which is the plug-in file",
         "sh -c '\"$0\" \"$@\" 1<>bin/corrugo.p'", true},
        {{"tube.ac", "-c", WAVE, "-o", "-"},
         "-o - writes to standard output, which is a library corrugo-host has loaded",
         "sh -c '\"$0\" \"$@\" >>bin/libcorrugo_sim.so'", true},
        {{"tube.ac", "-c", WAVE, "-o", "-"},
         "-o - writes to standard output, which is the dialog script beside the plug-in",
         "sh -c '\"$0\" \"$@\" 1<>bin/corrugo.tcl'", true},
        {{"--help"}, "standard output is the dialog script beside the plug-in",
         "sh -c '\"$0\" \"$@\" 1<>bin/corrugo.tcl'", true},
        {{"--version"}, "standard output is the plug-in file", "sh -c '\"$0\" \"$@\" >>bin/corrugo.p'", true},
        {{"--along", "x", "--sine", "y", "--cycles", "5", "--add", "--print-command"},
         "standard output is a library corrugo-host has loaded",
         "sh -c '\"$0\" \"$@\" 1<>bin/libcorrugo_sim.so'", true},
        {{"tube.ac", "-c", WAVE, "--report", "-o", "out.ac"}, "standard output is the model file",
         "sh -c '\"$0\" \"$@\" >>tube.ac'"},
        {{"tube.ac", "-c", "puts hello", "-o", "out.ac"}, "standard output is the model file",
         "sh -c '\"$0\" \"$@\" >>hard.ac'"},
        {{"-", "-c", WAVE, "--report", "-o", "out.ac"}, "standard output is the model file",
         "sh -c '\"$0\" \"$@\" <tube.ac >>tube.ac'"},
        // Standard error joined to one: why goes to standard output (here
        // the test's standard error), before any usage mistake is printed.
        {{"tube.ac", "-c", WAVE, "-o", "out.ac"}, "standard error is the plug-in file",
         "sh -c 'exec 3>&2; \"$0\" \"$@\" 2>>bin/corrugo.p >&3'", true},
        {{"--bogus"}, "standard error is a library corrugo-host has loaded",
         "sh -c 'exec 3>&2; \"$0\" \"$@\" 2>>bin/libcorrugo_sim.so >&3'", true},
        {{"--help"}, "standard error is the dialog script beside the plug-in",
         "sh -c 'exec 3>&2; \"$0\" \"$@\" 2>>bin/corrugo.tcl >&3'", true},
        {{"tube.ac", "-c", "error oops", "-o", "out.ac"}, "standard error is the model file",
         "sh -c 'exec 3>&2; \"$0\" \"$@\" 2>>tube.ac >&3'"},
        {{"tube.ac", "--bogus=1"}, "unknown option --bogus"},
        {{"tube.ac", "--tick=4294967296"},
         "--tick takes a whole number from 0 to 4294967295, not \"4294967296\""},
    };
#if defined(__SANITIZE_ADDRESS__)
    const bool sanitized = true; /* LeakSanitizer cannot run without /proc */
#else
    const bool sanitized = false;
#endif
    for (const auto &c : cases) {
        if (c.no_proc && (!can_mount() || sanitized)) {
            std::printf("skipped %s without /proc: %s\n", c.says,
                        sanitized ? "LeakSanitizer needs /proc" : "needs root and mount namespaces");
            continue;
        }
        program = c.copied ? copy : CORRUGO_HOST_PATH;
        std::vector<std::string> args = c.args; /* a run that writes nothing is refused first */
        if (std::none_of(args.begin(), args.end(), [](const std::string &a) {
                return a == "-o" || a == "--help" || a == "--version" || a == "--print-command" || a == "--bogus";
            }))
            args.push_back("--report");
        Outcome r = run(args, c.no_proc ? HIDE_PROC : "", c.wrapper, c.no_proc);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err, std::string("corrugo-host: ") + c.says + "\n(see corrugo-host --help)\n");
        EXPECT_EQ(left(), files) << c.says;
        EXPECT_TRUE(kept("tube.ac", tube));
        EXPECT_TRUE(kept("corrugo.p", plugin));
        EXPECT_TRUE(kept("corrugo.tcl", script));
        EXPECT_TRUE(kept("bin/libcorrugo_sim.so", library));
        EXPECT_TRUE(kept("bin/corrugo.p", plugin));
        EXPECT_TRUE(kept("bin/corrugo.tcl", script));
        EXPECT_TRUE(kept("bin/corrugo-host", host));
    }
    // Without /proc, run as ../corrugo-host, it finds the plug-in beside it.
    if (can_mount() && !sanitized) {
        fs::create_directories(dir / "work" / "bin" / "sub");
        Outcome r = run({"../../tube.ac", "-c", WAVE, "-o", "../../waved.ac"}, HIDE_PROC,
                        "sh -c 'cd bin/sub && exec ../corrugo-host \"$@\"'", true);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_NE(positions("waved.ac"), positions("tube.ac"));
        fs::remove(dir / "work" / "waved.ac");
    } else {
        std::printf("skipped the plug-in found without /proc: %s\n",
                    sanitized ? "LeakSanitizer needs /proc" : "needs root and mount namespaces");
    }
    program = CORRUGO_HOST_PATH;
    Outcome r = run({"tube.ac", "--tick=00000000000004294967295", "-c", WAVE, "--report"});
    EXPECT_EQ(r.status, 0) << r.err;
    // A model to be read from, or written to, a standard stream the program
    // was started without (where Tcl would open /dev/null, which takes all).
    const struct {
        const char *model, *closes, *says;
    } closed[] = {{"tube.ac", ">&-", "corrugo-host: standard output: cannot write: Bad file descriptor\n"},
                  {"-", "<&-", "corrugo-host: standard input: cannot read: Bad file descriptor\n"}};
    for (const auto &c : closed) {
        r = run({c.model, "-c", WAVE, "-o", "-"}, "", std::string("sh -c '\"$0\" \"$@\" ") + c.closes + "'");
        EXPECT_EQ(r.status, 3) << c.closes;
        EXPECT_EQ(r.err, c.says);
    }
}

// Every text a command line asks for is checked once written: on a full
// disk, or a stream the program was started without, it is an error.
TEST_F(Saving, TextThatCannotBeWrittenIsAnError)
{
    example("tube.ac");
    const std::string full = "sh -c '\"$0\" \"$@\" >/dev/full'", closed = "sh -c '\"$0\" \"$@\" >&-'";
    const std::vector<std::string> print = {"--along", "x", "--sine", "y", "--cycles", "5", "--add", "--print-command"};
    const std::vector<std::string> report = {"tube.ac", "-c", WAVE, "--report", "-o", "out.ac"};
    const struct {
        std::vector<std::string> args;
        std::string wrapper;
        const char *says;
    } cases[] = {
        {{"--help"}, full, "corrugo-host: standard output: cannot write: No space left on device\n"},
        {{"--version"}, full, "corrugo-host: standard output: cannot write: No space left on device\n"},
        {print, full, "corrugo-host: standard output: cannot write: No space left on device\n"},
        {{"tube.ac", "-c", WAVE, "-o", "-"}, full, "corrugo-host: standard output: cannot write: No space left on device\n"},
        {report, full, "corrugo-host: standard output: cannot write: No space left on device\n"},
        {{"--help"}, closed, "corrugo-host: standard output: cannot write: Bad file descriptor\n"},
        {{"--version"}, closed, "corrugo-host: standard output: cannot write: Bad file descriptor\n"},
        {print, closed, "corrugo-host: standard output: cannot write: Bad file descriptor\n"},
        {report, closed, "corrugo-host: standard output: cannot write: Bad file descriptor\n"},
        {{"tube.ac", "-c", WAVE, "--report", "-o", "-"}, "sh -c '\"$0\" \"$@\" 2>/dev/full'", ""},
    };
    for (const auto &c : cases) {
        Outcome r = run(c.args, "", c.wrapper);
        EXPECT_EQ(r.status, 3) << c.args[0] << " " << c.wrapper;
        EXPECT_EQ(r.err, c.says);
        EXPECT_FALSE(fs::exists(dir / "after" / "out.ac"));
    }
}

TEST_F(Saving, ACommandThatFailsOrExitsNeverWritesEvenInPlace)
{
    const std::string tube = example("tube.ac");
    const std::string exits = ": exit is not available in corrugo-host's commands: the program "
                              "ends after the last of them, and writes -o only when every one "
                              "ran cleanly\n";
    const struct {
        const char *command;
        std::string says;
    } cases[] = {
        {"qorvel_go z z y 1 0.3 0.3 0 0 0 0 1 1",
         "corrugo-host: Corrugo : cannot apply frequency and amplitude to same axis\n"},
        {"error boom", "corrugo-host: -c error boom: boom\n"},
        {"exit", "corrugo-host: -c exit" + exits},
        {"exit 0", "corrugo-host: -c exit 0" + exits},
        {"exit 3", "corrugo-host: -c exit 3" + exits},
    };
    for (const auto &c : cases) {
        Outcome r = run({"tube.ac", "-c", WAVE, "-c", c.command, "-o", "tube.ac"});
        EXPECT_EQ(r.status, 1) << c.command;
        EXPECT_EQ(r.err, c.says);
        EXPECT_EQ(left(), std::vector<std::string>{"tube.ac"}) << c.command;
        EXPECT_TRUE(kept("tube.ac", tube)) << c.command;
    }
}

TEST_F(Saving, PipesAreReadAndGarbageEndsAtItsFirstLine)
{
    const std::string expected = waved();
    Outcome r = run({"pipe", "-c", WAVE, "-o", "out.ac"}, "mkfifo pipe && (cat tube.ac >pipe &)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("out.ac", expected));
    // Larger than a pipe holds, so that it comes in many reads.
    const std::string model = long_model(20000, ".5");
    put("long.ac", model);
    r = run({"pipe2", "-o", "out.ac"}, "mkfifo pipe2 && (cat long.ac >pipe2 &)");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kept("out.ac", model));
    r = run({"/dev/zero", "-o", "out.ac"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err.substr(0, 84),
              "corrugo-host: /dev/zero:1: expected the AC3D header (such as AC3Db), found \"\\x00\\x00");
    // An endless stream that is no model ends at its first line.
    r = run({"endless", "-o", "out.ac"}, "mkfifo endless && (yes >endless 2>/dev/null &)");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: endless:1: expected the AC3D header (such as AC3Db), found \"y\"\n");
}

// A stream refused at its limit of 1 GiB never takes much more memory than
// that (its room doubled at the limit would take twice as much). The run has
// 3 GB of address space, so that a limit not kept cannot take the machine's.
TEST_F(Saving, AStreamTooLongIsRefusedWithinItsLimitsMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than this limit allows";
#endif
    Outcome r = run({"endless", "-o", "out.ac"}, "mkfifo endless && ((echo AC3Db; yes '0 0 0') >endless 2>/dev/null &)\n"
                                 "ulimit -v 3000000");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "corrugo-host: endless: cannot read: more than 1 GiB from a pipe or device; save it to a "
                     "file and read that\n");
    struct rusage usage;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 1100 * 1024) << "kilobytes at the most, in the largest run so far";
}

TEST_F(Saving, RunningOutOfMemoryIsAMessageNeverAnAbort)
{
    const std::string model = long_model(200000, "");
    put("big.ac", model);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than these limits allow";
#endif
    int failed = 0;
    // Limits of address space from too little to start the program (its
    // libraries cannot be loaded: status 127) to enough for the whole job.
    for (int limit = 10000; limit <= 70000; limit += 3000) {
        Outcome r = run({"big.ac", "-c", "qorvel_go x y n 1 1 0 0 0 0 0 0 0", "-o", "big.ac"},
                        "ulimit -v " + std::to_string(limit));
        if (r.status == 0 || r.status == 127)
            continue;
        failed++;
        EXPECT_EQ(r.status, 3) << limit << ": " << r.err;
        EXPECT_TRUE(r.err == "corrugo-host: big.ac: cannot read: not enough memory for the model\n" ||
                    r.err == "corrugo-host: big.ac: cannot read: not enough memory for the file\n" ||
                    r.err == "corrugo-host: big.ac: not enough memory; nothing was written\n")
            << limit << ": " << r.err;
        EXPECT_TRUE(kept("big.ac", model)) << limit;
        EXPECT_EQ(left(), std::vector<std::string>{"big.ac"}) << limit;
    }
    EXPECT_GT(failed, 0) << "no limit was tight enough to test anything";
}

/* }====== */

} // namespace
