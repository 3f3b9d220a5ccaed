// SPDX-License-Identifier: GPL-2.0-or-later
// Job order: one table of steps per platform for the job start, a page and the job
// end, and the few commands that may stand between pages.
#include "job_order.h"

#include <iterator>

namespace varkon::decode::detail {
namespace {

constexpr Step kJobStartC[] = {
    {Sym::UelC}, {Sym::Abort}, {Sym::Uel}, {Sym::Pjl}, {Sym::PjlEoj}, {Sym::Uel}, {Sym::Version},
    {Sym::Uel}, {Sym::Pjl}, {Sym::PjlEnterLanguage}, {Sym::JobSpec}, {Sym::TonerSave}, {Sym::Density},
    {Sym::SystemDate},
};
constexpr Step kPageC[] = {
    {Sym::PageSpec}, {Sym::CustomPaper}, {Sym::HostUse}, {Sym::RasterHeader}, {Sym::UelC},
    {Sym::ImageChecksum}, {Sym::Coverage}, {Sym::FormFeed},
};
constexpr Step kJobEndC[] = {
    {Sym::QueryStatus}, {Sym::Reset}, {Sym::Uel}, {Sym::Pjl}, {Sym::PjlEoj}, {Sym::Uel},
};

// The language-version line and the toner table belong to two models only.
constexpr Step kJobStartZ[] = {
    {Sym::Uel}, {Sym::Pjl}, {Sym::PjlLanguageVersion, true}, {Sym::PjlJobTime}, {Sym::PjlJobOwner},
    {Sym::PjlEnterLanguage}, {Sym::FineMode}, {Sym::JobSpec}, {Sym::Density}, {Sym::TonerParams, true},
};
constexpr Step kPageZ[] = {
    {Sym::PageSpec}, {Sym::CustomPaper}, {Sym::Coverage}, {Sym::RasterHeader}, {Sym::Band, true, true},
    {Sym::FormFeed},
};
constexpr Step kJobEndZ[] = {
    {Sym::Reset}, {Sym::Uel}, {Sym::Pjl}, {Sym::PjlEoj}, {Sym::Uel},
};

constexpr Step kJobStartM[] = {{Sym::Uel}, {Sym::Marker}, {Sym::TonerParams}, {Sym::StartDoc}};
constexpr Step kPageM[] = {
    {Sym::StartPage}, {Sym::JbigParam}, {Sym::JbigData, true, true}, {Sym::JbigEnd}, {Sym::EndPage},
};
constexpr Step kJobEndM[] = {{Sym::EndDoc}, {Sym::Uel}};

// A phase ends on its last step, so that step must be one that has to come.
template <size_t N> constexpr bool ends_firmly(const Step (&steps)[N])
{
    return !steps[N - 1].optional && !steps[N - 1].repeats && !steps[0].optional;
}
static_assert(ends_firmly(kPageC) && ends_firmly(kPageZ) && ends_firmly(kPageM), "pages end on a page end");
static_assert(ends_firmly(kJobEndC) && ends_firmly(kJobEndZ) && ends_firmly(kJobEndM), "jobs end on a UEL");

template <size_t N> constexpr Sequence sequence(const Step (&steps)[N]) { return {steps, N}; }

bool is_page_end(Sym sym) { return sym == Sym::FormFeed || sym == Sym::EndPage; }

bool is_image_data(Sym sym)
{
    return sym == Sym::RasterHeader || sym == Sym::Band || sym == Sym::JbigParam || sym == Sym::JbigData ||
           sym == Sym::JbigEnd;
}

} // namespace

JobOrder::JobOrder(Platform platform) : platform_(platform)
{
    switch (platform) {
    case Platform::C:
        job_start_ = sequence(kJobStartC), page_ = sequence(kPageC), job_end_ = sequence(kJobEndC);
        break;
    case Platform::Z:
        job_start_ = sequence(kJobStartZ), page_ = sequence(kPageZ), job_end_ = sequence(kJobEndZ);
        break;
    default:
        job_start_ = sequence(kJobStartM), page_ = sequence(kPageM), job_end_ = sequence(kJobEndM);
        break;
    }
    current_ = job_start_;
}

void JobOrder::enter(Phase phase, Sequence sequence)
{
    phase_ = phase;
    current_ = sequence;
    index_ = 0;
    seen_ = false;
}

std::string JobOrder::accept(Sym sym)
{
    if (phase_ == Phase::BetweenPages)
        return accept_between_pages(sym);
    if (phase_ == Phase::Ended)
        return message("%s after the job end", sym_name(sym));
    while (index_ < current_.count) {
        const Step &step = current_.steps[index_];
        if (step.sym == sym) {
            if (step.repeats) {
                seen_ = true;
                return {};
            }
            ++index_;
            seen_ = false;
            if (index_ == current_.count)
                enter(phase_ == Phase::JobEnd ? Phase::Ended : Phase::BetweenPages, {});
            return {};
        }
        if (!step.optional && !(step.repeats && seen_))
            return mismatch(sym, step.sym);
        ++index_;
        seen_ = false;
    }
    // Only optional steps were left: the item belongs to what follows.
    enter(Phase::BetweenPages, {});
    return accept_between_pages(sym);
}

std::string JobOrder::accept_between_pages(Sym sym)
{
    bool after_machine_duplex = after_machine_duplex_;
    after_machine_duplex_ = false;
    if (sym == page_.steps[0].sym) {
        enter(Phase::InPage, page_);
        ++pages_;
        page_label = pages_;
        ++index_;
        return {};
    }
    if (sym == job_end_.steps[0].sym) {
        enter(Phase::JobEnd, job_end_);
        ++index_;
        return {};
    }
    if (sym == Sym::MachineDuplex && platform_ == Platform::C) {
        after_machine_duplex_ = true;
        if (pages_ == 0)
            return "machine-duplex command before the first page";
        return after_machine_duplex ? "two machine-duplex commands in a row" : std::string();
    }
    if (sym == Sym::ManualDuplex) {
        if (pages_ == 0)
            return "manual-duplex command before the first page";
        if (manual_duplex_)
            return "second manual-duplex command in one job";
        manual_duplex_ = true;
        return {};
    }
    if (is_page_end(sym))
        return "page end without page start";
    if (is_image_data(sym))
        return message("%s outside a page", sym_name(sym));
    return message("unexpected %s between pages", sym_name(sym));
}

std::string JobOrder::mismatch(Sym sym, Sym expected) const
{
    if (phase_ == Phase::JobStart) {
        if (sym == page_.steps[0].sym)
            return "page start before job start";
        return message("expected %s in the job start, found %s", sym_name(expected), sym_name(sym));
    }
    if (phase_ == Phase::InPage) {
        if (sym == page_.steps[0].sym)
            return message("page start inside page %d", page_label);
        if (sym == job_end_.steps[0].sym)
            return message("job end inside page %d", page_label);
        return message("expected %s in page %d, found %s", sym_name(expected), page_label, sym_name(sym));
    }
    return message("expected %s in the job end, found %s", sym_name(expected), sym_name(sym));
}

std::string JobOrder::at_end() const
{
    switch (phase_) {
    case Phase::JobStart:
        if (index_ == 0)
            return "stream ends before the job start";
        for (size_t i = index_; i < current_.count; ++i)
            if (!current_.steps[i].optional)
                return "stream ends inside the job start";
        return "stream ends without job end";
    case Phase::BetweenPages: return "stream ends without job end";
    case Phase::InPage: return message("stream ends inside page %d", page_label);
    case Phase::JobEnd: return "stream ends inside the job end";
    case Phase::Ended: break;
    }
    return {};
}

} // namespace varkon::decode::detail
