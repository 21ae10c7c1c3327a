#pragma once
// Colours carry state: a field's base colour, red for a value the controller does not hold yet,
// and the synchronised colour once it does.
#include <cstdint>

namespace dovu {

// 0xRRGGBB, or one of the platform colours below.
using Colour = std::uint32_t;

constexpr Colour kRed = 0xFF0000;
constexpr Colour kOrange = 0xFFCC99;       // active, on and high texts
constexpr Colour kGreen = 0xCCFF99;        // inactive, off and normal texts
constexpr Colour kSkyBlue = 0xA6CAF0;      // low texts; sensor state 3
constexpr Colour kYellow = 0xFFFF99;       // numbers and device options
constexpr Colour kBrightGreen = 0x00FF00;  // live indicators, connection boxes
constexpr Colour kGrey = 0x808080;
constexpr Colour kBlack = 0x000000;

// Platform colours; the window maps them to its palette.
constexpr Colour kWindowColour = 0x1000000;  // the system's window background
constexpr Colour kFaceColour = 0x2000000;    // button face: the neutral state of indicator lamps
constexpr Colour kDefaultColour = 0x3000000; // whatever the toolkit gives that kind of control

constexpr bool isPlatformColour(Colour c) { return c > 0xFFFFFF; }

}  // namespace dovu
