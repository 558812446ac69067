// See metafiles.h.
#include "metafiles.h"

namespace metafiles
{

namespace
{

std::string le32(uint32_t value)
{
    return words({int32_t(value & 0xFFFF), int32_t(value >> 16)});
}

} // namespace

std::string words(const std::vector<int32_t> &values)
{
    std::string bytes;
    for (int32_t value : values)
        bytes += {char(value & 0xFF), char((value >> 8) & 0xFF)};
    return bytes;
}

Wmf &Wmf::record(uint16_t function, const std::vector<int32_t> &params)
{
    return raw(uint32_t(3 + params.size()), function, words(params));
}

Wmf &Wmf::raw(uint32_t size, uint16_t function, const std::string &params)
{
    records += le32(size) + words({function}) + params;
    largest = std::max(largest, uint32_t(3 + params.size() / 2));
    return *this;
}

std::string Wmf::bytes() const
{
    std::string end = le32(3) + words({0});
    size_t total = (18 + records.size() + end.size()) / 2;
    return words({1, 9, 0x0300}) + le32(uint32_t(total)) + words({objects}) + le32(largest) + words({0}) +
           records + end;
}

std::string Wmf::placeable(int16_t left, int16_t top, int16_t right, int16_t bottom) const
{
    std::string header = le32(0x9AC6CDD7u) + words({0, left, top, right, bottom, 1440}) + le32(0);
    uint16_t sum = 0;
    for (size_t i = 0; i < header.size(); i += 2)
        sum ^= uint16_t(uint8_t(header[i]) | uint8_t(header[i + 1]) << 8);
    return header + words({sum}) + bytes();
}

Wmf window(int16_t width, int16_t height)
{
    Wmf wmf;
    wmf.record(set_map_mode, {8}).record(set_window_org, {0, 0}).record(set_window_ext, {height, width});
    return wmf;
}

Wmf &solid_fill(Wmf &wmf, uint32_t rgb)
{
    int32_t red_green = int32_t((rgb >> 16 & 0xFF) | (rgb & 0xFF00)), blue = int32_t(rgb & 0xFF);
    return wmf.record(create_brush, {0, red_green, blue, 0})
        .record(select_object, {0})
        .record(create_pen, {5, 0, 0, 0, 0})
        .record(select_object, {1});
}

Wmf &box(Wmf &wmf, int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    return wmf.record(rectangle, {bottom, right, top, left});
}

std::string dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint8_t fill)
{
    uint32_t colours = bits <= 8 ? 1u << bits : 0;
    size_t rows =
        size_t((uint64_t(uint32_t(width)) * bits + 31) / 32 * 4 * uint32_t(height < 0 ? -height : height));
    return le32(40) + le32(uint32_t(width)) + le32(uint32_t(height)) + words({1, bits}) + le32(compression) +
           le32(0) + le32(0) + le32(0) + le32(colours) + le32(0) + std::string(colours * 4, '\x7F') +
           std::string(rows, char(fill));
}

} // namespace metafiles
