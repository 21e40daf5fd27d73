#include "ProcThreadActivity.h"
#include "QuorvexApp.h"

CQuorvexApp theApp;

int main(int argc, char** argv)
{
    RaiseDescriptorLimit();
    return AfxWinMain(argc, argv);
}
