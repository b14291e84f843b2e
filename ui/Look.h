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

/// "宋体" first; where it is not installed, the CJK typefaces closest to it.
inline QStringList typefaces()
{
    return {"宋体",
            "SimSun",
            "NSimSun",
            "Noto Serif CJK SC",
            "Noto Sans CJK SC",
            "WenQuanYi Zen Hei",
            "AR PL UMing CN"};
}

} // namespace look
