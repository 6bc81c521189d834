#include "fwc_rules.h"

#include "image_format.h"

#include <cstring>

int zelupg_fwc_is_loader_stage(const char *name)
{
    if (!name)
        return 0;
    return std::strstr(name, "updater") && std::strcmp(name, IMAGE_ENV_FWC_NAME) != 0;
}

int zelupg_fwc_block_size_ok(int64_t block_size)
{
    return block_size > 0 && block_size <= ZELUPG_FWC_MAX_BLOCK_SIZE;
}

uint32_t zelupg_fwc_chunk_size(uint32_t block_size)
{
    if (!zelupg_fwc_block_size_ok(block_size))
        return 0;
    if (block_size > ZELUPG_FWC_CHUNK_LIMIT)
        return block_size;
    return ZELUPG_FWC_CHUNK_LIMIT - ZELUPG_FWC_CHUNK_LIMIT % block_size;
}

uint64_t zelupg_fwc_padded_length(uint64_t length, uint32_t block_size)
{
    if (block_size == 0 || length % block_size == 0)
        return length;
    return length + (block_size - length % block_size);
}

int zelupg_result_accepted(uint32_t value)
{
    return value == 0;
}
