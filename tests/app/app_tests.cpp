// One executable for the window tests. With a Qt Test class name as the first argument it
// runs that class alone (the rest of the arguments go to Qt Test), so each class is its own
// CTest test; without one it runs every class in turn.

#include "device/instance_claim.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <vector>

int RunStartupTests(int argc, char** argv);
int RunViewerTests(int argc, char** argv);
int RunZoomWndTests(int argc, char** argv);
int RunZoomWndSearchTests(int argc, char** argv);
int RunZoomWndHistoryTests(int argc, char** argv);
int RunZoomWndSessionTests(int argc, char** argv);
int RunViewerFaultsTests(int argc, char** argv);

namespace {

struct TestClass {
    const char* name;
    int (*run)(int argc, char** argv);
};

const TestClass kClasses[] = {
    {"StartupTest", RunStartupTests},
    {"ViewerTest", RunViewerTests},
    {"ZoomWndTest", RunZoomWndTests},
    {"ZoomWndSearchTest", RunZoomWndSearchTests},
    {"ZoomWndHistoryTest", RunZoomWndHistoryTests},
    {"ZoomWndSessionTest", RunZoomWndSessionTests},
    {"ViewerFaultsTest", RunViewerFaultsTests},
};

} // namespace

int main(int argc, char** argv) {
    pulsara::ExportRuntimeDirectory();
    QApplication application(argc, argv);
    if (argc > 1 && argv[1][0] != '-') {
        for (const TestClass& c : kClasses) {
            if (std::strcmp(argv[1], c.name) == 0) {
                std::vector<char*> rest{argv[0]};
                rest.insert(rest.end(), argv + 2, argv + argc);
                return c.run(static_cast<int>(rest.size()), rest.data()) == 0 ? 0 : 1;
            }
        }
        std::fprintf(stderr, "app_tests: no test class %s; the classes are:", argv[1]);
        for (const TestClass& c : kClasses) {
            std::fprintf(stderr, " %s", c.name);
        }
        std::fprintf(stderr, "\n");
        return 2;
    }
    int failures = 0;
    for (const TestClass& c : kClasses) {
        failures += c.run(argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
