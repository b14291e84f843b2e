// What the panel's start differs in from one system to another.
#pragma once

#include <string>

/// The paragraph of --help on ports and access: how port n is found and what it takes to reach
/// a serial device on this system.
const char *portsHelp();

/// --menu: the working folder of a start from the desktop's menu, made on first start (on
/// Linux $XDG_DATA_HOME/zev720, on Windows %LOCALAPPDATA%\ZEV720), entered. False with the
/// reason when it cannot be made or entered.
bool enterMenuFolder(std::string &error);

/// Started without --menu, the program still should not work in the current folder: on
/// Windows when it is the program's own folder (a double-click in Program Files or in the
/// unpacked zip) or one it cannot write; on Linux never (the terminal's folder is the user's).
bool workingFolderUnfit();
