#pragma once

#include <array>

// The boxes the export and e-mail sheets scale pictures into: the first items of both sheets' size
// pop-ups, in pop-up order. A picture is scaled to fit a square of the given side.
namespace OVNOutputSizes {

struct Size {
    int boxSide;
    const char *title; // the pop-up item, before translation
};

inline constexpr std::array<Size, 4> scaled{{
    {256, "256 pixels"},
    {320, "320 pixels"},
    {640, "640 pixels"},
    {1024, "1024 pixels"},
}};

// The side for a pop-up index of the table; the smallest for an index outside it.
constexpr int boxSide(int index)
{
    return index >= 0 && index < int(scaled.size()) ? scaled[size_t(index)].boxSide : scaled.front().boxSide;
}

} // namespace OVNOutputSizes
