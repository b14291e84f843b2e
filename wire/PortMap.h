// Port numbers to lines as people write them: the ports file's text ("ZEV720.ports") and the
// system's names of serial ports (COM5). Where port n is found is link/PortDevices's. No I/O.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

/// "ZEV720.ports": one "n = line" a line, "#" starts a comment.
constexpr const char *kPortsFile = "ZEV720.ports";
/// A ports file is a few lines; one larger than this is refused whole.
constexpr std::size_t kMaxPortsFileBytes = 64 * 1024;
/// Malformed lines told one by one; beyond them, their count.
constexpr std::size_t kPortsProblemsShown = 5;

struct PortsFile {
    std::map<int, std::string> lines;  ///< port number to line
    std::vector<std::string> problems; ///< "ZEV720.ports:3: not "n = line": …", one a bad line
};
/// The lines of a ports file's text. A malformed line (not "n = line", a network line that
/// does not parse, a scheme that is not ours) is a problem and counts for nothing; the other
/// lines still count. The first kPortsProblemsShown problems are told, then how many more.
PortsFile parsePortsFile(std::string_view text, const std::string &fileName = kPortsFile);
/// True where the system names its serial ports COM1, COM2, ... (Windows): such a name is a
/// line wherever a line is taken.
#ifdef _WIN32
constexpr bool kSystemPortNames = true;
#else
constexpr bool kSystemPortNames = false;
#endif
/// "COM5", "com5", "\\.\COM5" (any case): the port's name as the system gives it, "COM5";
/// anything else, an empty string. On any system, so that it is tested everywhere.
std::string comPortName(const std::string &text);

} // namespace zev
