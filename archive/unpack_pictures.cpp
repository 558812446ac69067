// Placeholder until the picture extraction lands.
#include "archive/archive.h"

int32_t XAD_picture_unpacker(const char *)
{
    return 0;
}
