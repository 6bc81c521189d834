// Fuzz target: the input as a partition string and as an environment blob.

#include "fuzz_support.h"

#include "image_format.h"
#include "partition.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_setup();

    const std::string text(reinterpret_cast<const char *>(data), size);
    upg_partition *head = zelupg_new_partition(text.c_str(), 0);
    for (upg_partition *p = head; p; p = p->next) {
        if (p->name[UPG_PART_NAME_MAX] != '\0')
            __builtin_trap();
    }
    zelupg_free_partition(head);

    const char *path = fuzz_file(data, size);
    zelupg_free_partition(image_partition_read(path, IMAGE_ENV_PARTS_KEY, 0, uint32_t(size)));
    return 0;
}
