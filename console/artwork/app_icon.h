#pragma once
// The console's icon: a flame on a chip, drawn with vector shapes at any size.

#include <QImage>

QImage drawAppIcon(int size);
