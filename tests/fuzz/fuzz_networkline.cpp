// Network lines as anyone may type them, in a venue file or "ZEV720.ports": a line is either
// refused with a reason or parsed into a host and port that write back to the same line.
#include "wire/NetworkAddress.h"
#include "tests/fuzz/FuzzCheck.h"

#include <string>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (const std::string &line : {text, "tcp://" + text, "rfc2217://" + text + ":4001"}) {
        const zev::NetworkAddress address = zev::parseNetworkLine(line);
        check(address.valid == address.problem.empty());
        if (!address.valid) continue;
        check(zev::isNetworkLine(line) && line.size() <= zev::kMaxNetworkLineLength);
        check(address.port >= 1 && !address.host.empty());
        check(address.host.find_first_of("/@?#[] \t\r\n") == std::string::npos);
        const zev::NetworkAddress again = zev::parseNetworkLine(zev::formatNetworkLine(address));
        check(again.valid && again.host == address.host && again.port == address.port &&
              again.rfc2217 == address.rfc2217);
    }
    return 0;
}
