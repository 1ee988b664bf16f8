// Replacing a user's file safely, as a careful editor does: the whole new
// content or the old one, never half of it, and never a change to what the
// user did not ask to change (links, owner, group, mode).
//
// - Symbolic links are followed to the file they finally name (which need not
//   exist yet); that file is replaced and the links stay.
// - A file the user may not write is refused, and so is one that has no write
//   permission for anybody (mode 444), also for root, as rm and editors ask
//   first: "Permission denied".
// - Usually the new content goes to a temporary file in the target's folder,
//   which takes the target's owner, group and mode and is then renamed over
//   it. Where the file system allows, the temporary file has no name until it
//   is complete (Linux's O_TMPFILE), so that even SIGKILL leaves nothing
//   behind; otherwise its name ".NAME.tmpXXXXXX" (shortened so that it never
//   makes a name too long) is removed on any failure and on SIGINT, SIGTERM,
//   SIGHUP and SIGQUIT, after which the signal ends the process as it would
//   have.
// - When renaming would lose something, the target is written in place
//   instead, once the new content is complete in an unnamed temporary file:
//   when it has several hard links (every name then sees the new model), when
//   its owner or group cannot be given to a new file (another user's file that
//   the user may write), or when its folder may not be written. Signals are
//   held off while the content is copied, and room for it is reserved first,
//   so only SIGKILL or a failing disk can leave such a file half written.
//   The file's exclusive lock (a POSIX record lock) is held from before the
//   new content is made until it is in place, so a cooperating program
//   reading the file (read_ac_file holds a shared lock) is waited for. The
//   file is read back once copied: a program that ignored the lock and
//   wrote it meanwhile fails the save ("another program wrote to the file
//   while it was being written in place, so it may hold neither model; the
//   new model is in NAME.new"), the new content kept in a new file NAME.new
//   (NAME.new2 and on when taken) beside it, or in TMPDIR or /tmp.
// - The new file takes the target's extended attributes (access control
//   lists among them); when one cannot be set, the target is written in
//   place instead, which keeps them all.
// - Without /proc, where an unnamed file cannot be given a name, the
//   temporary file is named from the start.
// - After a power cut a file replaced holds the old content or the new,
//   whole: the new file is synced before it takes the target's name, and the
//   folder after. In place, the copy is synced before the save ends, but a
//   power cut during the copy can leave it half written. A new name is not
//   synced (that costs a tenth of a large run): a power cut soon after can
//   leave the name missing or its file short, as with cp.
// - A file reached by a link of /proc to an open file (/proc/self/fd/N,
//   /dev/fd/N) whose name is gone (deleted) or that never had one is written
//   in place, through that link: never a new file by the name the link shows.
#ifndef CORRUGO_ACFILE_SAVE_FILE_H
#define CORRUGO_ACFILE_SAVE_FILE_H

#include <functional>
#include <string>

namespace acfile {

// The file that "path" finally names, its symbolic links followed (the last
// may dangle). False with errno set when a link cannot be read or there are
// more than 40 of them.
bool resolve_links(const std::string &path, std::string &target);

// Whether "a" and "b" name the same file, links followed: the same file when
// both exist, else the same place.
bool same_file(const std::string &a, const std::string &b);

// Replaces the file "path" names with what "write" writes to the descriptor it
// is given (it returns 0, or the errno of its failure). On failure the target
// is untouched, no temporary file is left and "error" says
// "PATH: cannot write: WHY"; but for the sync of the folder once the new
// file is renamed into place, which cannot be taken back: "PATH: written,
// but its folder could not be synced: WHY; a power cut may yet leave the old
// model". "unnamed" false does without unnamed temporary
// files, as on file systems that have none.
bool save_file(const std::string &path, const std::function<int(int fd)> &write,
               std::string &error, bool unnamed = true);

} // namespace acfile

#endif
