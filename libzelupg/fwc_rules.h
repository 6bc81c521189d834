#pragma once
// Rules every burn of an FWC follows, shared by the library's own burn
// procedure and the worker: which components are loader stages, which block
// sizes a board may ask for, how data is cut into chunks and padded, and which
// burn and run results mean success.

#include <cstdint>

enum {
    // A chunk is the amount read from the image and handed to the board at once.
    ZELUPG_FWC_CHUNK_LIMIT = 1048576,
    // The largest block size a board may ask for. Boards ask for 512 bytes up
    // to 2 MiB (an erase block); every chunk and every padded rest is a whole
    // number of blocks, so the block size is also the host's buffer size and
    // the most padding one component can get. 4 MiB leaves twice the largest
    // known block while a board answering nonsense (1 GiB) cannot make the
    // host allocate and send that much.
    ZELUPG_FWC_MAX_BLOCK_SIZE = 4 * 1048576,
};

// Whether the FWC is a loader stage: its name contains "updater", except for
// the environment blob "image.updater.env", which is data like a target. The
// board restarts into a loader stage once it has taken in the last one of a run.
int zelupg_fwc_is_loader_stage(const char *name);

// Whether a block-size answer (zelupg_cmd_get_block_size) can be used: 1 to
// ZELUPG_FWC_MAX_BLOCK_SIZE.
int zelupg_fwc_block_size_ok(int64_t block_size);

// Chunk size for a usable block size: the largest multiple of it that fits in
// ZELUPG_FWC_CHUNK_LIMIT, or the block size itself when it is larger. 0 for a
// block size that zelupg_fwc_block_size_ok refuses.
uint32_t zelupg_fwc_chunk_size(uint32_t block_size);

// The rest of a component padded with zeros up to the next whole block (a
// rest of whole blocks stays as it is). length itself for block size 0.
uint64_t zelupg_fwc_padded_length(uint64_t length, uint32_t block_size);

// Whether a burn or run result reports the FWC as accepted (0).
int zelupg_result_accepted(uint32_t value);
