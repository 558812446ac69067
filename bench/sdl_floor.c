/* The floor of a launch on SDL: loads SDL2 with dlopen as the program does,
 * starts its video (no D-Bus autolaunch and no compose table, as the
 * program), opens a window of
 * the given size at 100,100, draws nothing and waits for it to be closed.
 * No archive, no picture, no C++. Measured by launch_vs_feh.sh with --floor:
 *   sdl_floor WIDTH HEIGHT
 */
#include <SDL.h>
#include <dlfcn.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    void *sdl = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (sdl == NULL)
        return 3;
    SDL_bool (*set_hint)(const char *, const char *) = dlsym(sdl, "SDL_SetHint");
    int (*init)(Uint32) = dlsym(sdl, "SDL_InitSubSystem");
    SDL_Window *(*create)(const char *, int, int, int, int, Uint32) = dlsym(sdl, "SDL_CreateWindow");
    int (*wait)(SDL_Event *) = dlsym(sdl, "SDL_WaitEvent");
    set_hint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    setenv("XCOMPOSEFILE", "/dev/null", 0);
    if (init(SDL_INIT_VIDEO) != 0 || create("floor", 100, 100, atoi(argv[1]), atoi(argv[2]), 0) == NULL)
        return 4;
    SDL_Event event;
    while (wait(&event))
        if (event.type == SDL_QUIT)
            break;
    return 0;
}
