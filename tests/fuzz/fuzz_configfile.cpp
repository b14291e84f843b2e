// zev720d's config file as anyone may have written it: refused with the file and a line that
// is in it, or taken as options of the server, each with a value that holds no comment mark
// and no blank at its ends; written back one a line, what was taken reads back the same.
#include "server/ConfigFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <algorithm>
#include <string>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<zev::ConfigWord> words;
    std::string error;
    if (!zev::configWords(text, "fuzz.conf", words, error)) {
        check(error.rfind("fuzz.conf:", 0) == 0);
        const long line = std::stol(error.substr(10));
        check(line >= 1 && line <= long(std::count(text.begin(), text.end(), '\n')) + 1);
        return 0;
    }
    check(words.size() % 2 == 0);
    std::string again;
    for (std::size_t i = 0; i < words.size(); i += 2) {
        const std::string &key = words[i].text, &value = words[i + 1].text;
        check(key.rfind("--", 0) == 0 && key.size() > 2 && !value.empty());
        check(value.find_first_of("#\n") == std::string::npos);
        check(value.front() != ' ' && value.front() != '\t' && value.back() != ' ' &&
              value.back() != '\t' && value.back() != '\r');
        check(words[i].where == words[i + 1].where);
        again += key.substr(2) + " " + value + "\n";
    }
    std::vector<zev::ConfigWord> reread;
    check(zev::configWords(again, "again.conf", reread, error) && reread.size() == words.size());
    for (std::size_t i = 0; i < words.size(); ++i)
        check(reread[i].text == words[i].text);
    return 0;
}
