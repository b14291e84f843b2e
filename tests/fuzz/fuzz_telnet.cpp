// The Telnet decoder fed a server's bytes in chunks of any size: its data is never longer
// than its input, each answer is given at most once, and data escaped by the encoder comes
// back exactly, however it is cut.
#include "wire/Telnet.h"
#include "tests/fuzz/FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::vector<std::uint8_t> stream = input.ConsumeBytes<std::uint8_t>(size / 2);
    const std::vector<std::uint8_t> cuts = input.ConsumeRemainingBytes<std::uint8_t>();

    // Whatever a server sends.
    zev::TelnetCodec codec;
    codec.opening();
    std::vector<std::uint8_t> replies, out(stream.size() + 1);
    std::size_t at = 0, cut = 0;
    while (at < stream.size()) {
        const std::size_t n = std::min(
            stream.size() - at, std::size_t(cuts.empty() ? 7 : 1 + cuts[cut++ % cuts.size()]));
        check(codec.receive(stream.data() + at, n, out.data(), replies) <= n);
        at += n;
    }
    check(replies.size() % 3 == 0 && replies.size() <= 3 * 4 * 256); // one answer per option

    // Data escaped, then read back through a fresh decoder.
    std::vector<std::uint8_t> escaped;
    zev::TelnetCodec::escape(stream.data(), stream.size(), escaped);
    zev::TelnetCodec reader;
    std::vector<std::uint8_t> back(escaped.size() + 1), none;
    std::size_t got = 0;
    at = 0;
    cut = 0;
    while (at < escaped.size()) {
        const std::size_t n = std::min(
            escaped.size() - at, std::size_t(cuts.empty() ? 5 : 1 + cuts[cut++ % cuts.size()]));
        got += reader.receive(escaped.data() + at, n, back.data() + got, none);
        at += n;
    }
    check(got == stream.size() && none.empty());
    check(std::equal(stream.begin(), stream.end(), back.begin()));
    return 0;
}
