#include "QuorvexApp.h"

CQuorvexApp theApp;

int main(int argc, char** argv)
{
    return AfxWinMain(argc, argv);
}
