// "ZEV720.cfg" of any content, loaded, then the settings dialog opened on it and confirmed.
#include "GuiFuzzing.h"
#include "wire/LineCodes.h"
#include "settings/PortSettings.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startHeadlessApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TParaForm *dialog = new TParaForm;
    static TMainForm *form = new TMainForm;
    writeInput(zev::kPortSettingsFile, data, size);
    zev::LoadPortSettings();
    dialog->show();
    try {
        dialog->ControlsToSettings();
    } catch (const std::exception &) {
    }
    dialog->hide();
    form->ApplyPortSettings(); // the codes the next connect would open the port with
    (void)zev::decodeLine(zev::baudCode(zev::portSettings.baud),
                          zev::modeCode(zev::portSettings.parity, zev::portSettings.dataBits,
                                        zev::portSettings.stopBits));
    (void)zev::pollInterval(zev::portSettings.interval);
    return 0;
}
