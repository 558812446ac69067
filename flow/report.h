// The program's messages about a document it cannot show.
#ifndef QUILLPEEK_FLOW_REPORT_H
#define QUILLPEEK_FLOW_REPORT_H

#include <cstdint>

// Writes "quillpeek: PATH: PROBLEM" to standard error; returns false, so that
// a failing step can end with it.
bool report_problem(const char *path, const char *problem);

// Why the member in block does not give a picture to show (defined with the
// picture routines, picture/problem.cpp).
const char *picture_problem(void *block, uint32_t size);

#endif
