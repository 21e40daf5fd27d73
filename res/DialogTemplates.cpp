#include "Resource.h"
#include "Resources.h"

namespace {

const DialogTemplate kMainDialog = {IDD_QUORVEX_DIALOG, "Quorvex", 548, 274, "MS Shell Dlg", 8, {}};

} // namespace

const DialogTemplate* AfxFindDialogTemplate(UINT id)
{
    for (const DialogTemplate* dialog : {&kMainDialog}) {
        if (dialog->id == id)
            return dialog;
    }
    return nullptr;
}
