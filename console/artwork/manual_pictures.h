#pragma once
// Renders the manual's pictures from the console's own widgets, so the manual
// always shows the look the program has.

#include <QString>

// Writes img_info.png, status_*.png and devs_burn.png into folder. False on a write error.
bool renderManualPictures(const QString &folder);
