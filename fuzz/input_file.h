// The fuzzer's input as a document on disk, for the routines that read a
// path: one scratch file per process, in /dev/shm where it can be written.
#ifndef QUILLPEEK_FUZZ_INPUT_FILE_H
#define QUILLPEEK_FUZZ_INPUT_FILE_H

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The input written to the process's scratch file named after target; its
// path, or empty when it cannot be written.
inline std::string write_input_file(const char *target, const uint8_t *data, size_t size)
{
    static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/quillpeek-fuzz-" + target + "-" + std::to_string(getpid());
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return std::string();
    bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written ? path : std::string();
}

#endif
