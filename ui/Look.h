// The panel's look, shared by its windows.
#pragma once

#include <QColor>
#include <QStringList>

namespace look {

/// Sky blue, the windows' background.
inline QColor skyBlue()
{
    return {166, 202, 240};
}

/// "宋体" first (SimSun, on Chinese Windows); where it is not installed, the CJK typefaces
/// closest to it: Windows ships Microsoft YaHei, Debian the Noto CJK fonts.
inline QStringList typefaces()
{
    return {"宋体",
            "SimSun",
            "NSimSun",
            "Microsoft YaHei", // on every Windows, where SimSun is not
            "Noto Serif CJK SC",
            "Noto Sans CJK SC",
            "WenQuanYi Zen Hei",
            "AR PL UMing CN"};
}

} // namespace look
