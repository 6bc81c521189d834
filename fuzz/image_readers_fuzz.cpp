// Fuzz target: an arbitrary file through every image reader and tool.

#include "fuzz_support.h"

#include "image_format.h"
#include "partition.h"
#include "upg_tools.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_setup();
    const char *path = fuzz_file(data, size);

    image_header hdr;
    image_hdr_read(path, &hdr);
    image_display_info(path);
    image_extract_to(path, fuzz_scratch_dir());
    fuzz_clear_scratch();

    // The table as the worker reads it, whatever the header check said.
    const int count = int(hdr.meta_size >> FWC_META_SHIFT);
    if (count > 0 && count <= 64) {
        std::vector<fwc_meta> records(static_cast<size_t>(count));
        if (image_meta_read(path, records.data(), count) == 0) {
            for (const fwc_meta &r : records) {
                if (std::strcmp(r.name, IMAGE_ENV_FWC_NAME) == 0)
                    zelupg_free_partition(
                        image_partition_read(path, IMAGE_ENV_PARTS_KEY, r.offset, r.size));
            }
        }
    }
    return 0;
}
