// Journal lines as a power cut, a full disk or a hand may leave them: a line is refused, or
// it is a change of a register of the map, and the line the journal would write for it reads
// back as the same change.
#include "model/RegisterMap.h"
#include "service/Journal.h"
#include "tests/fuzz/FuzzCheck.h"

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    zev::JournalEntry entry;
    if (!zev::journalEntryFromLine(line, entry)) return 0;
    check(size <= zev::kMaxJournalLine && entry.id > 0 && zev::findRegister(entry.address));
    const std::string again = zev::journalLine(entry);
    if (again.size() > zev::kMaxJournalLine) return 0; // escapes may lengthen what came raw
    zev::JournalEntry read;
    check(zev::journalEntryFromLine(again, read));
    check(read.id == entry.id && read.time == entry.time && read.room == entry.room &&
          read.address == entry.address && read.before == entry.before &&
          read.after == entry.after && read.user == entry.user && read.through == entry.through &&
          read.undoes == entry.undoes);
    return 0;
}
