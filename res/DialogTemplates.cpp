#include "MessageMap.h"
#include "Resource.h"
#include "Resources.h"

namespace {

#define ICON_RESOURCE_NAME(id) "#" #id
#define ICON_RESOURCE(id) ICON_RESOURCE_NAME(id)

using enum ControlKind;

constexpr unsigned EDIT_RESULT = CS_READONLY | CS_CENTER;
constexpr unsigned LIST = CS_VSCROLL;
constexpr unsigned SORTED_LIST = CS_SORTED | CS_VSCROLL;

const ControlTemplate kMainDialogControls[] = {
    {IDC_EXIT, PushButton, "Exit", 116, 206, 50, 23, 0},
    {ID_HELP, PushButton, "&Help", 490, 251, 50, 16, 0},
    {IDC_EDIT_SOCKETS, Edit, "", 71, 48, 33, 14, EDIT_RESULT},
    {IDC_STATIC_SOCKETS, Static, " Sockets", 71, 36, 33, 13, CS_RAISED | CS_VCENTER},
    {IDC_EDIT_CORES, Edit, "", 103, 48, 27, 14, EDIT_RESULT},
    {IDC_STATIC_CORES, Static, " Cores", 104, 36, 28, 13, CS_RAISED | CS_VCENTER},
    {IDC_EDIT_LOGICALS, Edit, "", 131, 48, 33, 14, EDIT_RESULT},
    {IDC_STATIC_LOGICALS, Static, " Logicals", 131, 36, 33, 13, CS_RAISED | CS_VCENTER},
    {IDC_EDIT_MULTI_PROCESSOR, Edit, "", 163, 48, 20, 14, EDIT_RESULT},
    {IDC_STATIC_MULTI_PROCESSOR, Static, " MP", 164, 36, 20, 13, CS_RAISED | CS_CENTER},
    {IDC_EDIT_MULTI_CORE, Edit, "", 183, 48, 20, 14, EDIT_RESULT},
    {IDC_STATIC_MULTI_CORE, Static, " MC", 184, 36, 20, 13, CS_RAISED | CS_CENTER},
    {IDC_EDIT_SMT, Edit, "", 203, 48, 63, 15, EDIT_RESULT},
    {IDC_STATIC_SMT, Static, " TL", 204, 36, 62, 13, CS_RAISED | CS_CENTER},
    {IDC_CORE_MODE, PushLikeCheckBox, "Multi-core", 225, 230, 69, 23, CS_HIDDEN},
    {IDC_EDIT_APP_PATH, Edit, "", 93, 80, 134, 14, CS_READONLY},
    {IDC_EDIT_APP_PARAMS, Edit, "", 94, 98, 133, 15, 0},
    {IDC_STATIC_APP_PARAMS, Static, "Application Parameters", 15, 100, 79, 12, 0},
    {IDC_GET_APP_NAME, PushButton, "Get Application Name", 15, 80, 79, 14, 0},
    {IDC_COMBO_SAMPLING_RATE, DropDownList, "", 94, 131, 38, 84, SORTED_LIST},
    {IDC_STATIC_SAMPLING_RATE, Static, "Sampling Rate (ms)", 29, 132, 64, 10, 0},
    {IDC_STATIC_CPU_UTILIZATION, Static, "CPU Utilization (%)", 356, 29, 61, 11, 0},
    {IDC_STATIC_MIN, Static, "Min", 432, 16, 15, 9, 0},
    {IDC_STATIC_AVG, Static, "Avg", 466, 16, 13, 8, 0},
    {IDC_STATIC_MAX, Static, "Max", 501, 15, 16, 9, 0},
    {IDC_EDIT_CPU_MIN, Edit, "", 418, 28, 35, 15, EDIT_RESULT},
    {IDC_EDIT_CPU_AVG, Edit, "", 456, 28, 33, 15, EDIT_RESULT},
    {IDC_EDIT_CPU_MAX, Edit, "", 492, 28, 35, 15, EDIT_RESULT},
    {IDC_STATIC_NOTICE, Static, "Quorvex v1.1\nMeasures how much parallelism\na program really uses.", 7, 242, 101, 25, 0},
    {IDC_EDIT_THREADS_MIN, Edit, "", 371, 219, 35, 15, CS_HIDDEN | EDIT_RESULT},
    {IDC_EDIT_THREADS_AVG, Edit, "", 409, 219, 33, 15, CS_HIDDEN | EDIT_RESULT},
    {IDC_EDIT_THREADS_MAX, Edit, "", 445, 219, 35, 15, CS_HIDDEN | EDIT_RESULT},
    {IDC_EDIT_ELAPSED, Edit, "", 418, 46, 36, 15, CS_READONLY},
    {IDC_STATIC_ELAPSED, Static, "Elapsed Time (ms)", 359, 48, 58, 10, 0},
    {IDC_START, PushLikeCheckBox, "START", 15, 206, 49, 23, 0},
    {IDC_CANCEL, PushLikeCheckBox, "CANCEL", 65, 206, 50, 23, 0},
    {IDC_EDIT_SAMPLES, Edit, "", 375, 238, 109, 15, CS_HIDDEN | CS_READONLY},
    {IDC_STATIC_SAMPLES, Static, "Number of Samples", 299, 238, 65, 14, CS_HIDDEN},
    {IDC_EDIT_PROCESSOR_INFO, Edit, "", 90, 17, 177, 14, CS_READONLY},
    {IDC_STATIC_PROCESSOR_INFO, Static, "Processor Information", 15, 17, 76, 14, CS_RAISED | CS_SUNKEN | CS_CENTER},
    {IDC_STATIC_FREQUENCY, Static, " Freq (MHz)", 15, 36, 57, 13, CS_RAISED | CS_CENTER},
    {IDC_EDIT_FREQUENCY, Edit, "", 15, 48, 56, 14, CS_READONLY},
    {IDC_STATIC_L2_CACHE, Static, " L2 C (KB)", 490, 217, 42, 13, CS_HIDDEN | CS_RAISED},
    {IDC_EDIT_L2_CACHE, Edit, "", 489, 229, 42, 14, CS_HIDDEN | CS_READONLY},
    {IDC_COMBO_DURATION, DropDownList, "", 94, 116, 38, 84, LIST},
    {IDC_STATIC_DURATION, Static, "Duration (sec)", 45, 118, 48, 10, 0},
    {IDC_EDIT_PARALLEL_TIME, Edit, "", 418, 64, 36, 15, CS_READONLY},
    {IDC_STATIC_PARALLEL_TIME, Static, "Parallel Time (%)", 362, 66, 55, 10, 0},
    {IDC_COMBO_THREAD_TABLE, DropDownList, "", 248, 132, 207, 84, SORTED_LIST | CS_SUNKEN},
    {IDC_STATIC_THREAD_HEADER, Static,
     "\t\t\t  Thread CPU Utilization (%)\n Thread #      %Time          Min               Avg              Max", 248,
     113, 207, 20, CS_RAISED},
    {IDC_COMBO_CONCURRENCY, DropDownList, "", 453, 132, 87, 84, SORTED_LIST | CS_SUNKEN},
    {IDC_STATIC_CONCURRENCY_HEADER, Static, " Concurrent \n Level              %Time", 454, 113, 86, 20, CS_RAISED},
    {IDC_STATIC_THREADS, Static, "Number of Threads", 311, 218, 65, 21, CS_HIDDEN},
    {IDC_STATIC, GroupBox, "", 346, 7, 194, 81, CS_RAISED | CS_SUNKEN},
    {IDC_COMBO_GENERATE_LOG, DropDownList, "", 94, 146, 38, 84, SORTED_LIST},
    {IDC_STATIC_GENERATE_LOG, Static, "Generate Log File", 29, 147, 64, 10, 0},
    {IDC_START_CAPTURE, PushLikeCheckBox, "START CAPTURE", 16, 183, 74, 23, 0},
    {IDC_STOP_CAPTURE, PushLikeCheckBox, "STOP CAPTURE", 90, 183, 76, 23, 0},
    {IDC_COMBO_MANUAL_CAPTURE, DropDownList, "", 189, 146, 38, 84, SORTED_LIST},
    {IDC_STATIC_MANUAL_CAPTURE, Static, "Manual Capture", 135, 147, 51, 10, 0},
};

const ControlTemplate kAboutBoxControls[] = {
    {IDC_STATIC, IconStatic, ICON_RESOURCE(IDR_MAINFRAME), 11, 17, 20, 20, 0},
    {IDC_STATIC, Static, "Quorvex Version 1.1", 40, 10, 119, 8, CS_NOPREFIX},
    {IDC_STATIC, Static, "Measures how much parallelism\na program really uses.", 40, 25, 119, 23, 0},
    {IDOK, DefPushButton, "OK", 178, 7, 50, 16, 0},
    {IDC_DEVELOPERS, PushButton, "Developers", 177, 36, 51, 12, 0},
};

const DialogTemplate kMainDialog = {IDD_QUORVEX_DIALOG, "Quorvex", 548, 274, "MS Shell Dlg", 8, kMainDialogControls};
const DialogTemplate kAboutBox = {IDD_ABOUTBOX, "About Quorvex", 235, 55, "MS Shell Dlg", 8, kAboutBoxControls};

} // namespace

const DialogTemplate* AfxFindDialogTemplate(UINT id)
{
    for (const DialogTemplate* dialog : {&kMainDialog, &kAboutBox}) {
        if (dialog->id == id)
            return dialog;
    }
    return nullptr;
}
