#pragma once

#include <QString>

// Renders the device dialog, filled from simulated sound cards, and the About
// box with this program's texts into PNG files in `folder`. False when a file
// cannot be written.
bool renderDialogShots(const QString &folder);
