#pragma once
// The application icon (IDR_MAINFRAME) from the compiled-in resources.

#include <QIcon>

#include <array>

// Pixel sizes the icon is drawn at (res/icons/kx4701setcfg-<size>.png).
inline constexpr std::array<int, 7> kAppIconSizes = {16, 24, 32, 48, 64, 128, 256};

// Returns the icon with every size in kAppIconSizes. The caller owns the returned value.
// Cannot fail at run time: the images are linked into the program, so a missing one is a
// build fault (the tests check that all sizes load).
QIcon LoadApplicationIcon();
