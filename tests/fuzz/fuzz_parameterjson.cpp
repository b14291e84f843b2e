// The JSON that build reads, as anyone may write it: refused with the file's name and a line,
// or made into a model whose text reads back into the same model.
#include "files/ParameterJson.h"
#include "tests/fuzz/FuzzCheck.h"


using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    zev::ParameterModel model, again;
    std::string error;
    if (!zev::parametersFromJson(text, "p.json", model, error)) {
        check(error.rfind("p.json:", 0) == 0);
        return 0;
    }
    check(zev::parametersFromJson(zev::parametersToJson(model), "p.json", again, error));
    check(again.image == model.image && again.modeSlots == model.modeSlots);
    return 0;
}
