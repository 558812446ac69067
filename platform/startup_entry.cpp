// The process's entry into the start-up. The executable is linked with
// --wrap=main, so the C runtime calls __wrap_main, which runs the program's
// main (__real_main) through the start-up.
#include "platform/startup.h"

extern "C" int __real_main(int argc, char **argv);

extern "C" int __wrap_main(int argc, char **argv)
{
    return platform_startup(__real_main, argc, argv, __stack, true);
}
