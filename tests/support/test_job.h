// SPDX-License-Identifier: GPL-2.0-or-later
// A fresh raster job's state for every test of the layers below the job
// object: bound to the test's thread from the test's start to its end, as a
// running job binds it, so that the command language, the sink and the spool
// files work on it and no test sees another's. Threads a test starts bind their
// own (varkon::JobBinding).
#pragma once

#include "job_context.h"

#include <gtest/gtest.h>

#include <memory>

namespace varkon::test {

// The job bound to the test's thread.
inline JobContext &job() { return job_context(); }

class FreshJobPerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo &) override
    {
        binding_.reset();
        context_ = std::make_unique<JobContext>();
        binding_ = std::make_unique<JobBinding>(*context_);
    }
    void OnTestEnd(const ::testing::TestInfo &) override
    {
        binding_.reset();
        context_.reset();
    }

private:
    std::unique_ptr<JobContext> context_;
    std::unique_ptr<JobBinding> binding_;
};

inline bool register_fresh_job_per_test()
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshJobPerTest);
    return true;
}

// Registered once in every test program that includes this header.
inline const bool kFreshJobPerTest = register_fresh_job_per_test();

} // namespace varkon::test
