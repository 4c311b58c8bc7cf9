// A shown top-level holder with one video window in it, for the tests of the window.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "QtTestMain.h"
#include "ShowVideoDlg.h"

namespace testsupport {

class OneWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        holder_ = std::make_unique<QWidget>();
        holder_->resize(400, 300);
        window_ = new CShowVideoDlg(holder_.get());
        window_->setGeometry(0, 0, 400, 300);
        holder_->show();
        ASSERT_TRUE(waitUntil([&] { return window_->isShownForPlay(); }, 2000));
    }
    void TearDown() override { holder_.reset(); }

    void play(const std::string& address, bool replay) {
        window_->m_bReplay = replay;
        window_->setUrl(address);
        window_->StartPlay();
    }
    std::uint64_t shown() const { return window_->m_counters.shown.load(); }
    std::uint64_t decoded() const { return window_->m_counters.decoded.load(); }
    std::uint64_t runs() const { return window_->m_counters.runs.load(); }

    std::unique_ptr<QWidget> holder_;
    CShowVideoDlg* window_ = nullptr;  // owned by holder_
};

}  // namespace testsupport
