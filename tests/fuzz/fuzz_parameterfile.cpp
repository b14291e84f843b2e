// A parameter file of any size and content, read and then shown on every control.
#include "GuiFuzzing.h"
#include "ui/Main.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startHeadlessApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TMainForm *form = new TMainForm;
    writeInput("fuzz.dat", data, size);
    try {
        form->LoadParameterFile("fuzz.dat");
    } catch (const std::exception &) {
    }
    form->SetAllControlsFromImage();
    form->Timer1Timer();
    return 0;
}
