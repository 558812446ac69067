// Test controls of the platform layer.
//
// In-process, tests call these functions. For the whole program the start-up
// reads the same controls from the environment:
//   QUILLPEEK_MISSING_LIBS  comma-separated library names that OpenLibrary
//                           reports as missing (e.g. "cybergraphics.library")
//   QUILLPEEK_TRACE         a file to which one line per system call is
//                           appended, starting with the call's name
//   QUILLPEEK_FAIL_ALLOC_AFTER  allocations fail after this many successes
//
// Journal lines name the call, then its arguments in the call's order, e.g.
//   OpenLibrary graphics.library 0
//   CloseLibrary graphics.library
//   ReadArgs DOCUMENTPATH/A
// A call refused by the platform (a library that is not open, a bad argument)
// is journalled with the word FAULT after the call's name.
#ifndef QUILLPEEK_PLATFORM_CONTROL_H
#define QUILLPEEK_PLATFORM_CONTROL_H

#include <string>
#include <vector>

// Back to the defaults: every library present, no allocation failures, no
// in-memory journal (the trace file, if any, stays).
void platform_reset();

void platform_set_library_missing(const char *name, bool missing);

// Allocations made on the program's behalf (AllocVec and the objects that
// libraries allocate for it) fail once this many have succeeded; a negative
// count means never.
void platform_fail_allocations_after(long successes);

// The journal in memory: begin clears it and starts recording, take returns
// what was recorded and goes on recording.
void platform_journal_begin();
std::vector<std::string> platform_journal_take();
void platform_journal_end();

// Appends journal lines to this file as well (null to stop).
void platform_trace_to(const char *path);

// How often the named library is open now.
int platform_open_count(const char *name);

// Blocks from AllocVec not yet freed.
long platform_live_blocks();

// Makes xadmaster.library forget the archive listing it remembers, so that
// the next listing reads the archive again (for benchmarks of a first run).
void platform_forget_archive_listings();

// Makes xadmaster.library write output files under a named temporary, as it
// does where the file system has no unnamed files.
void platform_xad_named_temporaries(bool named);

// Whether xadmaster.library lists plain zips from their own records (on by
// default) rather than through libarchive's walk, and how often it has.
void platform_xad_direct_zip_listing(bool on);
long platform_xad_direct_zip_listings();
// How often a member of such a listing came out into memory without libarchive.
long platform_xad_direct_zip_extractions();

// Makes datatypes.library forget the last picture it decoded, so that the
// next layout decodes again (for benchmarks of a first decode, and the
// platform's reset between tests); programs call the library's own
// ForgetLastDecode (platform/datatypes.h).
void platform_forget_decoded_pictures();

// Datatype objects made and not yet disposed of.
long platform_live_objects();

#endif
