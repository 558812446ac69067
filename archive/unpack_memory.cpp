// Placeholder until the archive routines land.
#include "archive/archive.h"

void *XAD_file_unpacker(const char *, const char *)
{
    return nullptr;
}
uint32_t XAD_file_grosse(const char *, const char *)
{
    return 0;
}
const char *XAD_file_problem(const char *, const char *)
{
    return "cannot be read as an archive";
}
