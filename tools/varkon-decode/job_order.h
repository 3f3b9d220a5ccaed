// SPDX-License-Identifier: GPL-2.0-or-later
// The order of a job's items: the job start, pages made of page start, image data
// and page end, the duplex commands between pages, and the job end.
#pragma once

#include "stream_items.h"

#include <string>

namespace varkon::decode::detail {

enum class Phase { JobStart, BetweenPages, InPage, JobEnd, Ended };

struct Step {
    Sym sym;
    bool optional = false;
    bool repeats = false;  // any number of times in a row (with optional: also none)
};

struct Sequence {
    const Step *steps = nullptr;
    size_t count = 0;
};

class JobOrder {
public:
    explicit JobOrder(Platform platform);

    // Moves on with the next item; returns the reason when it cannot come here.
    std::string accept(Sym sym);
    // What is missing when the stream ends now; empty after a complete job.
    std::string at_end() const;

    Phase phase() const { return phase_; }
    // Number the messages use for the current page.
    int page_label = 0;

private:
    std::string accept_between_pages(Sym sym);
    std::string mismatch(Sym sym, Sym expected) const;
    void enter(Phase phase, Sequence sequence);

    Platform platform_;
    Phase phase_ = Phase::JobStart;
    Sequence job_start_, page_, job_end_;
    Sequence current_;
    size_t index_ = 0;
    bool seen_ = false;       // the current repeating step has matched at least once
    int pages_ = 0;
    bool manual_duplex_ = false;
    bool after_machine_duplex_ = false;
};

} // namespace varkon::decode::detail
