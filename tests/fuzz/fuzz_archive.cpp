// Backup archives as a restore reads them: the input is a tar stream (gzipped here, so that
// the mutations reach the headers) or, when it starts as gzip does, the archive itself. Read
// or refused; what is read holds only sound names within the bounds, and written again reads
// back the same.
#include "service/Archive.h"
#include "tests/fuzz/FuzzCheck.h"

#include <zlib.h>

using zev::fuzz::check;

namespace {

std::string gzipped(std::string_view tar)
{
    z_stream z{};
    deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(tar.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(tar.data()));
    z.avail_in = uInt(tar.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::string archive = bytes.rfind("\x1f\x8b", 0) == 0 ? std::string(bytes) : gzipped(bytes);
    std::vector<zev::ArchiveEntry> entries;
    std::string error;
    if (!zev::readTarGz(archive, entries, error)) {
        check(entries.empty() && !error.empty());
        return 0;
    }
    check(entries.size() <= zev::kMaxArchiveEntries);
    std::size_t content = 0;
    for (const zev::ArchiveEntry &entry : entries) {
        check(zev::archivePathProblem(entry.path).empty());
        content += entry.bytes.size();
    }
    check(content <= zev::kMaxArchiveContent);
    std::string again;
    check(zev::writeTarGz(entries, 0, again, error));
    std::vector<zev::ArchiveEntry> read;
    check(zev::readTarGz(again, read, error) && read.size() == entries.size());
    for (std::size_t i = 0; i < read.size(); ++i)
        check(read[i].path == entries[i].path && read[i].bytes == entries[i].bytes);
    return 0;
}
