#pragma once

// The form measures in twips (1/1440 inch); the screen in logical pixels at 96 dpi.
// Qt's device-pixel ratio maps logical pixels onto a HiDPI screen.
namespace runtime {

inline constexpr double kTwipsPerPixel = 15.0;

// Pixel coordinate of a twips coordinate: rounded, and clamped so that a control that has
// moved far away for hours still gives a coordinate a widget can hold.
int toPixels(double twips);

} // namespace runtime
