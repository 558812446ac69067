// The run-time start-up: what happens before main and around it.
//
// The executable is linked with --wrap=main, so the C runtime enters the
// start-up first. The start-up
//  - opens dos.library (version 37 or later) into DOSBase, or ends the
//    process with return code 20;
//  - reads the test controls from the environment (QUILLPEEK_MISSING_LIBS,
//    QUILLPEEK_TRACE, see platform/control.h);
//  - opens the console of a desktop start (platform/internal/console.h), taking its
//    marker out of the arguments;
//  - hands the arguments to ReadArgs;
//  - owns Ctrl-C: a break is remembered, and noticed when the program next
//    writes to standard output or standard error: "***Break\n" goes to
//    standard error and the process ends with return code 20;
//  - runs main on a stack of at least __stack bytes, on a thread of its own
//    when the process's stack limit is smaller;
//  - shows the console's text and waits for its window to close, closes
//    DOSBase after main returns and exits with main's result.
#ifndef QUILLPEEK_PLATFORM_STARTUP_H
#define QUILLPEEK_PLATFORM_STARTUP_H

#include <cstddef>

// The program's declared minimum stack, in bytes. Defined by the program.
extern "C" const unsigned long __stack;

typedef int (*StartupEntry)(int argc, char **argv);

// Runs entry as the start-up runs main; returns the process's return code.
// For the process's own main (whole_process), the start-up also allows
// connecting early to the display while main decodes its picture
// (platform/internal/startup_display.h), and when main returns without having used
// that connection, the process ends at once rather than wait for it.
// Programs that never open a window pass false.
int platform_startup(StartupEntry entry, int argc, char **argv, unsigned long minimum_stack,
                     bool whole_process = false);

// The arguments that ReadArgs parses (argv[0] is the command's name).
void platform_set_arguments(int argc, char **argv);

// Installs the break handling: the SIGINT handler and the standard streams
// that notice a pending break when written to.
void platform_install_break_handling();

// For a process that lives a few milliseconds and decodes one picture (the
// thumbnailer): large picture blocks (AllocVec's of 1 MiB and more, a
// decoder's pixels) take huge pages, cleared at one fault per 2 MiB, where
// small pages would each cost a fault. They hold up to 2 MiB more resident
// each, which a long-lived viewer does not want, nor a run that has loaded
// libarchive and its libraries (they are not taken then). Off unless called.
void platform_prefer_huge_pages(bool preferred);

// Size in bytes of the stack of the calling thread.
size_t platform_current_stack_size();

// Writes all size bytes to the descriptor, again after an interrupted write
// (as the start-up's streams do); the bytes written: fewer than size only
// when a write failed, errno then saying why where the system said.
size_t platform_write_all(int descriptor, const void *data, size_t size);

#endif
