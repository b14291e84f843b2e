// "ZEV720.ports" as anyone may write it: every line that counts maps a number to a line that
// is a device path or a network line that parses; problems stay few whatever the file holds.
#include "wire/NetworkAddress.h"
#include "tests/fuzz/FuzzCheck.h"
#include "wire/PortMap.h"


using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const zev::PortsFile file = zev::parsePortsFile(text);
    check(file.problems.size() <= zev::kPortsProblemsShown + 1);
    for (const auto &[number, line] : file.lines) {
        check(number >= 0 && !line.empty());
        check(!zev::isNetworkLine(line) || zev::parseNetworkLine(line).valid);
        for (unsigned char c : line)
            check(c >= 0x20 && c != 0x7F);
    }
    return 0;
}
