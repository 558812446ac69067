// The process-wide library bases. DOSBase is the start-up's.
#include "flow/libraries.h"

struct Library *DOSBase1 = nullptr;
struct Library *GfxBase = nullptr;
struct Library *CyberGfxBase = nullptr;
struct Library *xadMasterBase = nullptr;
struct Library *DataTypesBase = nullptr;
struct Library *IntuitionBase = nullptr;
