// Makes the whole corpus of real-world streams once per test run (a ctest fixture), so
// that no test pays for it and a file that cannot be made shows up here first.
#include <cstdio>

#include "support/corpus.h"

int main() {
    if (!corpus::makeAll())
        return 1;
    std::printf("corpus ready in %s\n", corpus::folder().c_str());
    return 0;
}
