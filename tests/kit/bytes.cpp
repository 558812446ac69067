#include "testkit.h"

namespace testkit
{

std::string noise(size_t size, uint32_t seed)
{
    std::string data(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &c : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return data;
}

uint32_t crc32(const std::string &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::vector<uint32_t> test_pattern(uint32_t width, uint32_t height)
{
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = 0xFF000000u | ((x * 37u + y * 11u) & 0xFF) << 16 |
                                                         ((y * 53u) & 0xFF) << 8 | ((x * 7u + 90u) & 0xFF);
    return pixels;
}

} // namespace testkit
