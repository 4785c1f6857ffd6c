// One executable for the window tests; each Qt Test class runs in turn.

#include "device/instance_claim.h"

#include <QApplication>

int RunStartupTests(int argc, char** argv);
int RunViewerTests(int argc, char** argv);
int RunAnalysisTests(int argc, char** argv);
int RunAnalysisSearchTests(int argc, char** argv);
int RunAnalysisHistoryTests(int argc, char** argv);
int RunAnalysisSessionTests(int argc, char** argv);
int RunViewerFaultsTests(int argc, char** argv);

int main(int argc, char** argv) {
    pulsara::ExportRuntimeDirectory();
    QApplication application(argc, argv);
    int failures = 0;
    failures += RunStartupTests(argc, argv);
    failures += RunViewerTests(argc, argv);
    failures += RunAnalysisTests(argc, argv);
    failures += RunAnalysisSearchTests(argc, argv);
    failures += RunAnalysisHistoryTests(argc, argv);
    failures += RunAnalysisSessionTests(argc, argv);
#if PULSARA_FAULT_TESTS
    failures += RunViewerFaultsTests(argc, argv);
#endif
    return failures == 0 ? 0 : 1;
}
