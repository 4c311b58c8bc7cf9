#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>

// Widget tests need one application object for the whole program.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Qt converts and scales large images on its global pool's threads: they finish before
    // the application object goes, not while the process ends.
    QThreadPool::globalInstance()->waitForDone();
    return result;
}
