#include "service/Archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

namespace zev {

namespace {

constexpr std::size_t kBlock = 512;
/// A pax header's records: only a long name is ever in one of ours.
constexpr std::size_t kMaxPaxBytes = 64 * 1024;

struct Field {
    std::size_t at, size;
};
constexpr Field kName{0, 100}, kMode{100, 8}, kUid{108, 8}, kGid{116, 8}, kSize{124, 12},
    kMtime{136, 12}, kChecksum{148, 8}, kType{156, 1}, kMagic{257, 6}, kVersion{263, 2},
    kPrefix{345, 155};

void putOctal(char *block, Field field, unsigned long long value)
{
    // Digits, zero-padded, then a NUL: as GNU tar writes them (the callers' values fit).
    for (std::size_t i = field.size - 1; i-- > 0; value >>= 3)
        block[field.at + i] = char('0' + (value & 7));
    block[field.at + field.size - 1] = '\0';
}

void putText(char *block, Field field, std::string_view text)
{
    if (!text.empty()) std::memcpy(block + field.at, text.data(), std::min(text.size(), field.size));
}

unsigned checksumOf(const char *block)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
        sum += (i >= kChecksum.at && i < kChecksum.at + kChecksum.size)
                   ? unsigned(' ')
                   : unsigned(static_cast<unsigned char>(block[i]));
    return sum;
}

void appendHeader(std::string &tar, std::string_view name, std::string_view prefix,
                  std::size_t size, char type, long long mtime)
{
    char block[kBlock] = {};
    putText(block, kName, name);
    putText(block, kPrefix, prefix);
    putOctal(block, kMode, 0600);
    putOctal(block, kUid, 0);
    putOctal(block, kGid, 0);
    putOctal(block, kSize, size);
    putOctal(block, kMtime, static_cast<unsigned long long>(std::max(0LL, mtime)));
    block[kType.at] = type;
    std::memcpy(block + kMagic.at, "ustar", 6);
    std::memcpy(block + kVersion.at, "00", 2);
    std::snprintf(block + kChecksum.at, 7, "%06o", checksumOf(block));
    block[kChecksum.at + 7] = ' ';
    tar.append(block, kBlock);
}

void appendData(std::string &tar, std::string_view data)
{
    tar.append(data);
    tar.append((kBlock - data.size() % kBlock) % kBlock, '\0');
}

/// A pax record "LEN path=VALUE\n", LEN counting itself.
std::string paxRecord(std::string_view key, std::string_view value)
{
    const std::size_t rest = key.size() + value.size() + 3; // ' ', '=', '\n'
    std::size_t length = rest + 1;
    while (std::to_string(length).size() + rest != length) ++length;
    return std::to_string(length) + " " + std::string(key) + "=" + std::string(value) + "\n";
}

/// A field's text: up to its first NUL.
std::string_view textOf(const char *block, Field field)
{
    const char *start = block + field.at;
    return {start, strnlen(start, field.size)};
}

/// An octal number field; false for anything else (base-256 included: no file of ours is that big).
bool octalOf(const char *block, Field field, unsigned long long &value)
{
    std::string_view text = textOf(block, field);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || text.size() > 11) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '7') return false;
        value = value * 8 + unsigned(c - '0');
    }
    return true;
}

/// The "path" of a pax header's records; false when they are not records.
bool paxPath(std::string_view records, std::string &path)
{
    while (!records.empty()) {
        const std::size_t space = records.find(' ');
        if (space == std::string_view::npos || space == 0 || space > 7) return false;
        std::size_t length = 0;
        for (std::size_t i = 0; i < space; ++i) {
            if (records[i] < '0' || records[i] > '9') return false;
            length = length * 10 + std::size_t(records[i] - '0');
        }
        if (length <= space + 1 || length > records.size() || records[length - 1] != '\n')
            return false;
        const std::string_view record = records.substr(space + 1, length - space - 2);
        const std::size_t equals = record.find('=');
        if (equals == std::string_view::npos) return false;
        if (record.substr(0, equals) == "path") path = std::string(record.substr(equals + 1));
        records.remove_prefix(length);
    }
    return true;
}

bool gunzip(std::string_view archive, std::string &tar, std::string &error)
{
    if (archive.size() < 18 || static_cast<unsigned char>(archive[0]) != 0x1f ||
        static_cast<unsigned char>(archive[1]) != 0x8b) {
        error = "not a gzip file";
        return false;
    }
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(archive.data()));
    z.avail_in = uInt(archive.size());
    int status = Z_OK;
    char chunk[64 * 1024];
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        status = inflate(&z, Z_NO_FLUSH);
        tar.append(chunk, sizeof chunk - z.avail_out);
        if (tar.size() > kMaxArchiveContent + kMaxArchiveEntries * 2 * kBlock) {
            error = "more than " + std::to_string(kMaxArchiveContent >> 20) + " MiB unpacked";
            status = Z_DATA_ERROR;
            break;
        }
        if (status == Z_BUF_ERROR && z.avail_in == 0) {
            error = "cut off";
            break;
        }
    }
    const bool whole = status == Z_STREAM_END;
    if (!whole && error.empty()) error = z.msg ? std::string("damaged: ") + z.msg : "damaged";
    if (whole && z.avail_in != 0) error = "bytes after its end";
    inflateEnd(&z);
    return error.empty();
}

} // namespace

std::string archivePathProblem(std::string_view path)
{
    if (path.empty()) return "an empty name";
    if (path.size() > kMaxArchivePath)
        return "a name longer than " + std::to_string(kMaxArchivePath) + " bytes";
    if (path.front() == '/') return "a name from the root";
    for (const char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\')
            return "a control character or '\\' in its name";
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        const std::string_view part = path.substr(at, slash - at);
        if (part.empty() || part == "." || part == "..")
            return "an empty, '.' or '..' part in its name";
        at = slash + 1;
    }
    return {};
}

bool writeTarGz(const std::vector<ArchiveEntry> &entries, long long mtime, std::string &out,
                std::string &error)
{
    std::string tar;
    for (const ArchiveEntry &entry : entries) {
        if (const std::string problem = archivePathProblem(entry.path); !problem.empty()) {
            error = entry.path + ": " + problem;
            return false;
        }
        // ustar holds 100 bytes of name and 155 of folders before it; longer, a pax header.
        std::string_view name = entry.path, prefix;
        if (name.size() > kName.size) {
            const std::size_t slash = name.rfind('/', kPrefix.size);
            if (slash != std::string_view::npos && name.size() - slash - 1 <= kName.size &&
                slash > 0) {
                prefix = name.substr(0, slash);
                name = name.substr(slash + 1);
            } else {
                const std::string records = paxRecord("path", entry.path);
                appendHeader(tar, "PaxHeader", {}, records.size(), 'x', mtime);
                appendData(tar, records);
                name = name.substr(0, kName.size);
            }
        }
        appendHeader(tar, name, prefix, entry.bytes.size(), '0', mtime);
        appendData(tar, entry.bytes);
    }
    tar.append(2 * kBlock, '\0');

    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "zlib cannot start";
        return false;
    }
    out.assign(deflateBound(&z, uLong(tar.size())), '\0');
    z.next_in = reinterpret_cast<Bytef *>(tar.data());
    z.avail_in = uInt(tar.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) {
        error = "zlib could not compress it";
        return false;
    }
    return true;
}

bool readTarGz(std::string_view archive, std::vector<ArchiveEntry> &entries, std::string &error)
{
    entries.clear();
    std::string tar;
    if (!gunzip(archive, tar, error)) return false;
    std::vector<ArchiveEntry> found;
    std::set<std::string> names;
    std::size_t content = 0;
    std::string longName;
    bool ended = false;
    const auto fail = [&](const std::string &message) {
        error = message;
        return false;
    };
    for (std::size_t at = 0; at + kBlock <= tar.size();) {
        const char *block = tar.data() + at;
        if (std::all_of(block, block + kBlock, [](char c) { return c == 0; })) {
            ended = true;
            break;
        }
        unsigned long long checksum = 0, size = 0;
        if (!octalOf(block, kChecksum, checksum) || checksum != checksumOf(block))
            return fail("a damaged header at byte " + std::to_string(at));
        if (textOf(block, Field{kMagic.at, 5}) != "ustar")
            return fail("not a tar archive of ours (no ustar header at byte " +
                        std::to_string(at) + ")");
        if (!octalOf(block, kSize, size) || size > tar.size() - at - kBlock)
            return fail("a header at byte " + std::to_string(at) + " with a size past the end");
        const char type = block[kType.at];
        const std::string_view data(block + kBlock, std::size_t(size));
        at += kBlock + (std::size_t(size) + kBlock - 1) / kBlock * kBlock;
        std::string path = std::string(textOf(block, kName));
        if (const std::string_view prefix = textOf(block, kPrefix); !prefix.empty())
            path = std::string(prefix) + "/" + path;
        if (type == 'x') {
            if (size > kMaxPaxBytes || !paxPath(data, longName))
                return fail(path + ": a damaged pax header");
            continue;
        }
        if (type == 'L') { // GNU tar's long name: the next entry's
            if (size > kMaxArchivePath + 1) return fail("a long name past its bound at byte " + std::to_string(at));
            longName = std::string(data.substr(0, strnlen(data.data(), data.size())));
            continue;
        }
        if (type == 'g' || type == 'K') continue; // global pax records, a link's long target
        if (!longName.empty()) path = std::exchange(longName, {});
        if (type == '5') continue; // a folder: made for the files in it
        if (type != '0' && type != '\0')
            return fail(path + ": " + (type == '1' || type == '2' ? "a link" : "a special file") +
                        ", not a file");
        if (const std::string problem = archivePathProblem(path); !problem.empty())
            return fail(path + ": " + problem);
        if (!names.insert(path).second) return fail(path + ": twice in the archive");
        if (found.size() == kMaxArchiveEntries)
            return fail("more than " + std::to_string(kMaxArchiveEntries) + " files");
        content += data.size();
        if (content > kMaxArchiveContent)
            return fail("more than " + std::to_string(kMaxArchiveContent >> 20) + " MiB of files");
        found.push_back({std::move(path), std::string(data)});
    }
    if (!ended) return fail("cut off (no end of the archive)");
    entries = std::move(found);
    return true;
}

} // namespace zev
