// SPDX-License-Identifier: GPL-2.0-or-later
// The JBIG encoder wrapper: one bi-level image (a page or a band) in, one complete
// JBIG bi-level image entity with its 20-byte header out, collected in memory.
#pragma once

#include "prnt.h"

#include <cstddef>
#include <functional>
#include <vector>

// What the encoder produced during one compression. Each compression has its own,
// so that bands can be encoded side by side.
struct JbigCompressState {
    std::vector<unsigned char> gpCompImgData; // collection buffer: grows with the data, however badly they compress
    size_t gJbigCompressDataLen = 0;          // bytes collected so far (the buffer's size)
    bool outOfMemory = false;                 // the buffer could not grow: the output is incomplete
    // Sees every piece of output after it was collected, on the encoding thread. The
    // encoder goes on only when it returns, so it may wait there for more image lines.
    std::function<void(const unsigned char *data, size_t len)> observer;
};

// Encodes the image in pKPlaneData (ParamImgWidth x ParamImgHeight, rows padded to
// whole bytes) with the JbigBih parameters, appending to state. 1 on success, 0 when
// the parameters describe no image or memory ran out (the collected data are then unusable).
int JBIGCompress(const JBIG_BIH *JbigBih, unsigned char *pKPlaneData, JbigCompressState *state);

// The encoder's output callback: appends len bytes to the JbigCompressState that `file` points to.
void jbig_data_out(unsigned char *buffer, size_t len, void *file);
