// What asking the compositor for a seat costs before SDL's Wayland driver
// is started: connect, read the registry in one roundtrip, disconnect
// (SeatProbe), beside SDL's own Wayland video start and stop in the same
// run (SdlWaylandVideo), which the probe precedes. The first probe, which
// also loads libwayland-client (a load SDL's driver then finds done), is
// timed once and printed first. Needs a compositor with a seat:
//   WAYLAND_DISPLAY=... XDG_RUNTIME_DIR=... build/bench/bench_wayland_seat
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/internal/wayland_seat.h"

namespace
{

void SeatProbe(benchmark::State &state)
{
    for (auto _ : state)
        if (!platform::wayland_seat().offered)
            state.SkipWithError("the compositor offers no seat");
}
BENCHMARK(SeatProbe)->Unit(benchmark::kMicrosecond);

void SdlWaylandVideo(benchmark::State &state)
{
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland");
    for (auto _ : state) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            state.SkipWithError(SDL_GetError());
            break;
        }
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
}
BENCHMARK(SdlWaylandVideo)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (std::getenv("WAYLAND_DISPLAY") == nullptr) {
        std::fprintf(stderr, "bench_wayland_seat: WAYLAND_DISPLAY names no compositor\n");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    platform::WaylandSeat first = platform::wayland_seat();
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("first probe (libwayland-client loaded): %.3f ms, seat %s\n", ms,
                first.offered ? "offered" : first.reason.c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
