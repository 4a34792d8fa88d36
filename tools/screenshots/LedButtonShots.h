#pragma once

#include <QString>

// Renders the lamp pictures and a few LED buttons into PNG files in `folder`;
// false when a file cannot be written.
bool renderLedButtonShots(const QString &folder);
