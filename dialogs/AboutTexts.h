#pragma once

#include <QStringView>

// What this program's About box shows; the main window copies these into its
// TAboutDlg, together with the application icon.
namespace AboutTexts {

inline constexpr QStringView kTitle = u"SO2R Controller";
inline constexpr QStringView kProductName = u"KALDRA";
inline constexpr QStringView kCopyRight = u"Copyright \u00A9 2026 the KALDRA developers";
inline constexpr QStringView kProgrammer = u"SO2R Controller";
// The project has no public web address yet; the box leaves the line out
// rather than show an address nobody owns.
inline constexpr QStringView kWebSite = u"";
// The application icon, from the resources linked with the dialogs.
inline constexpr QStringView kIconPath = u":/MAINICON.png";

} // namespace AboutTexts
