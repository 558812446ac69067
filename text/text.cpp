// Placeholder until the text utilities land.
#include "text/text.h"

char *textsplit(const char *, int32_t, const char *)
{
    return nullptr;
}
char *changechars(const char *, const char *, const char *)
{
    return nullptr;
}
