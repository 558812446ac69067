// Placeholder until the picture decoding lands.
#include "picture/picture.h"

void *DTLoad(void *, uint32_t)
{
    return nullptr;
}
uint32_t DT_width(void *, uint32_t)
{
    return 0;
}
uint32_t DT_height(void *, uint32_t)
{
    return 0;
}
