#pragma once

#include <QString>

// Renders the main window, driven by simulated sound cards, powered off,
// powered on at Rig1+2, muted and with radio 3, at scale 1 and 2, into PNG
// files in `folder`. False when a file cannot be written.
bool renderMainWindowShots(const QString &folder);
