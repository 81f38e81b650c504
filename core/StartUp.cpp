#include "StartUp.h"

#include "BoxImage.h"
#include "DynoLog.h"
#include "TableLayout.h"

void InitialiseTables(FormControls& form, Variables& vars) {
    ApplyEditionLayout(form, '2');
    form.ControlByName(Ctl::ButtonP9).SetEnabled(false);
    form.GridByName(Grid::StrGridConfNam).SetCell(0, 0, "RPM pls.");
    static const char* const kSentRowNames[5] = {
        "Manufacturer ($05):", "OEM codes ($90-97):", "Sensor type ($03):", "Protocol rev. ($06):",
        "Error/status ($01):"};
    for (int row = 0; row < 5; ++row)
        form.GridByName(Grid::StrGridSDnames).SetCell(0, row, kSentRowNames[row]);

    uint16_t cursor = 0;
    DecodeImage3(form, vars.RxBuffer, cursor);
    DecodeConfigRow(vars.RxBuffer, form.GridByName(Grid::StrGridConfig), cursor);
    cursor = 0;
    LabelDynoLogTable(form, vars.RxBuffer, cursor);
    ShowDynoLog(form, vars.DynoLogP0, true);
    ShowDynoLog(form, vars.DynoLogP1toP9, true);
}
