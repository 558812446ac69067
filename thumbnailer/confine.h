// The thumbnailer's confinement: what the process may still do once it has
// opened its input's and its output's places and before it parses anything.
#ifndef QUILLPEEK_THUMBNAILER_CONFINE_H
#define QUILLPEEK_THUMBNAILER_CONFINE_H

// Confines the process for good, with Landlock and seccomp:
//  - files: the input may be read; in the output folder (and beneath it)
//    files may be renamed and removed; files opened before stay writable
//    through their descriptors; the system's public files may be read and
//    nothing more: the shared library folders and /etc/ld.so.cache, the
//    font folders and fontconfig's configuration and cache; every other
//    file and folder, the user's home among them, is closed to opening,
//    reading and writing (Landlock, when the kernel has it);
//  - no new program (execve, execveat), no new process (fork, vfork, clone
//    without CLONE_THREAD), no sockets, no connect, no ptrace, no opening of
//    any file for writing or creating, whatever its path (seccomp).
// Either input or folder may be null (nothing granted for it). Returns null
// when the process is confined, else why it could not be (the process is
// then unchanged or confined only in part and must not go on).
const char *confine_process(const char *input, const char *folder);

// Whether the kernel offers Landlock: without it only the seccomp half
// holds, and files outside the input and output stay readable.
bool landlock_available();

#endif
