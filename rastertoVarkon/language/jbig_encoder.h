// SPDX-License-Identifier: GPL-2.0-or-later
// The JBIG (T.82) encoder of the images the printers take: one resolution layer,
// one plane, sequential stripes ended with SDNORM, the two- and three-line
// templates, typical prediction and the adaptive-template search. Its bytes are
// those JBIG-KIT writes for the same parameters; JBIGCompress uses it where
// jbig_encoder_exact() says so. Lines can be pushed as they become final.
#pragma once

#include "prnt.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varkon {

// Receives the bi-level image entity in pieces, in order: the 20-byte header,
// then each stripe as it is completed. The encoder reads no line of a later
// stripe before the sink has returned from the stripe before it.
using JbigSink = void (*)(const unsigned char *data, size_t len, void *context);

// Whether JbigEncoder writes, for these parameters (as JBIGCompress hands them to
// JBIG-KIT), the very bytes JBIG-KIT writes.
bool jbig_encoder_exact(const JBIG_BIH &bih);

// The stripe height JBIG-KIT uses for these parameters (its own choice for L0 = 0).
uint32_t jbig_stripe_lines(const JBIG_BIH &bih);

// One image: start(), then push_lines() until every line is in.
class JbigEncoder {
public:
    JbigEncoder(const JBIG_BIH &bih, JbigSink sink, void *context);

    // Writes the header. False when jbig_encoder_exact() refuses the parameters or
    // memory ran out; the encoder then takes no lines.
    bool start();
    // Encodes the next `count` lines, `stride` bytes apart, each (width + 7) / 8
    // bytes long (padding bits are ignored). Lines past the image's height are
    // ignored. False once memory has run out.
    bool push_lines(const unsigned char *rows, size_t stride, uint32_t count);

    uint32_t lines_pushed() const { return y_; }
    uint32_t stripe_lines() const { return l0_; }
    bool complete() const { return ok_ && y_ == height_; }

private:
    class Coder; // the arithmetic coder's registers while a line is coded

    template <bool TwoLine>
    static void code_line(Coder &coder, const unsigned char *y0, const unsigned char *y1, const unsigned char *y2,
                          uint32_t width, unsigned tx);
    void encode_line(const unsigned char *row);
    void code_counting_line(const unsigned char *y0, const unsigned char *y1, const unsigned char *y2);
    void decide_template_move(uint32_t lineInStripe);
    void end_stripe();
    void emit(const unsigned char *data, size_t len) { sink_(data, len, context_); }

    JBIG_BIH bih_;
    JbigSink sink_;
    void *context_;
    bool ok_ = false;
    uint32_t width_ = 0, height_ = 0, l0_ = 0;
    size_t rowBytes_ = 0;
    unsigned char lastMask_ = 0xff; // the bits of a line's last byte that are pixels
    bool twoLine_ = false, typicalPrediction_ = false;
    unsigned mx_ = 0;

    // The line being coded and the two above it, with zero margins for whole-word reads.
    std::vector<unsigned char> lineStore_;
    std::array<unsigned char *, 3> lines_{}; // current, one above, two above

    uint32_t y_ = 0;          // lines encoded
    uint32_t lineInStripe_ = 0;
    bool typicalBefore_ = false; // the line above was typical
    unsigned tx_ = 0;            // adaptive-template offset in use
    int movedTx_ = -1;           // the offset this stripe moved to, or -1
    uint32_t moveLine_ = 0;
    bool templateDecided_ = true;
    std::array<unsigned long, 17> count_{}; // pixels equal to each candidate AT pixel (0: the default one)
    unsigned long counted_ = 0;

    std::vector<unsigned char> stripe_; // coded data of the stripe under way
    std::array<unsigned char, 4096> states_{};
    uint32_t a_ = 0, c_ = 0;
    long sc_ = 0;
    int ct_ = 0, buffer_ = -1;
};

// Encodes a whole image (rows (width + 7) / 8 bytes apart), stripe by stripe.
bool jbig_encode(const JBIG_BIH &bih, const unsigned char *image, JbigSink sink, void *context);

} // namespace varkon
