// The program's messages about a document it cannot show.
#include "flow/report.h"

#include <cstdio>

bool report_problem(const char *path, const char *problem)
{
    fprintf(stderr, "quillpeek: %s: %s\n", path, problem);
    return false;
}
