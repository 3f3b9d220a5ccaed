// SPDX-License-Identifier: GPL-2.0-or-later
// JBIG-KIT behind the command layer's JBIGCompress: the encoder is set up with the
// platform's parameters and writes into the caller's collection buffer. Where our
// own encoder writes the same bytes, it runs instead.
#include "jbigCompress.h"

#include "jbig_encoder.h"

// JBIG-KIT's header declares C functions without saying so.
extern "C" {
#include <jbig.h>
}

#include <new>

namespace {

// JBIG-KIT allows an adaptive template offset mx of at most 127; a stripe height
// of 0 lets it choose its own.
bool describes_image(const JBIG_BIH &bih)
{
    return bih.ParamImgWidth > 0 && bih.ParamImgHeight > 0 && bih.ParamP >= 1 && bih.ParamMx <= 127;
}

// jbig_data_out for the encoder's const pieces: it only reads them.
void collect(const unsigned char *data, size_t len, void *state)
{
    jbig_data_out(const_cast<unsigned char *>(data), len, state);
}

} // namespace

void jbig_data_out(unsigned char *buffer, size_t len, void *file)
{
    auto *state = static_cast<JbigCompressState *>(file);
    if (!state->outOfMemory) {
        // Called from C: nothing may be thrown through the encoder.
        try {
            state->gpCompImgData.insert(state->gpCompImgData.end(), buffer, buffer + len);
            state->gJbigCompressDataLen += len;
        } catch (const std::bad_alloc &) {
            state->outOfMemory = true;
        }
    }
    // Even output that is lost paces the encoder: it must not run ahead of its image.
    if (state->observer)
        state->observer(buffer, len);
}

int JBIGCompress(const JBIG_BIH *JbigBih, unsigned char *pKPlaneData, JbigCompressState *state)
{
    if (JbigBih == nullptr || pKPlaneData == nullptr || state == nullptr || !describes_image(*JbigBih))
        return 0;
    if (varkon::jbig_encoder_exact(*JbigBih))
        return varkon::jbig_encode(*JbigBih, pKPlaneData, collect, state) && !state->outOfMemory ? 1 : 0;

    std::vector<unsigned char *> planes;
    try {
        planes.assign(JbigBih->ParamP, pKPlaneData);
    } catch (const std::bad_alloc &) {
        return 0;
    }

    jbg_enc_state encoder;
    jbg_enc_init(&encoder, JbigBih->ParamImgWidth, JbigBih->ParamImgHeight, JbigBih->ParamP, planes.data(),
                 jbig_data_out, state);
    jbg_enc_layers(&encoder, 0);
    jbg_enc_lrange(&encoder, JbigBih->ParamDl, -1);
    jbg_enc_options(&encoder, JbigBih->ParamOrder, JbigBih->ParamOption, JbigBih->ParamL0, JbigBih->ParamMx, 0);
    jbg_enc_out(&encoder);
    jbg_enc_free(&encoder);
    return state->outOfMemory ? 0 : 1;
}
