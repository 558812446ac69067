/* Launches a command, measures the time until its first top-level window is
 * mapped on the X display, then asks that window to close as a window
 * manager's close button does (WM_DELETE_WINDOW) and waits for the command
 * to end. Prints "MAP_MS EXIT_CODE". Built and used by launch_vs_feh.sh:
 *   map_timer COMMAND [ARGUMENT...]
 */
#include <X11/Xlib.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

/* Waits for the next X event, at most until the deadline. */
static int next_event(Display *x, XEvent *event, double deadline)
{
    while (!XPending(x)) {
        double left = deadline - now_ms();
        if (left <= 0)
            return 0;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(x), &fds);
        struct timeval wait = {(time_t)(left / 1000), (suseconds_t)((long)left % 1000 * 1000)};
        select(ConnectionNumber(x) + 1, &fds, NULL, NULL, &wait);
    }
    XNextEvent(x, event);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: map_timer COMMAND [ARGUMENT...]\n");
        return 2;
    }
    Display *x = XOpenDisplay(NULL);
    if (x == NULL) {
        fprintf(stderr, "map_timer: cannot open the display\n");
        return 2;
    }
    XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
    XSync(x, False);
    double start = now_ms();
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    XEvent event;
    Window mapped = 0;
    while (mapped == 0 && next_event(x, &event, start + 30000))
        if (event.type == MapNotify)
            mapped = event.xmap.window;
    double map_ms = now_ms() - start;
    int status = 0;
    if (mapped == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        fprintf(stderr, "map_timer: no window was mapped\n");
        return 1;
    }
    XEvent close_request;
    memset(&close_request, 0, sizeof close_request);
    close_request.xclient.type = ClientMessage;
    close_request.xclient.window = mapped;
    close_request.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    close_request.xclient.format = 32;
    close_request.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
    close_request.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, mapped, False, NoEventMask, &close_request);
    XSync(x, False);
    waitpid(child, &status, 0);
    XCloseDisplay(x);
    printf("%.2f %d\n", map_ms, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
