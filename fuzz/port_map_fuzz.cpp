// Fuzz target: the stored port-map text, as a hand-edited or damaged settings
// file may hold it. Whatever the text, the map read from it holds no
// separator or surrounding blank in a port text, and survives being written
// and read again unchanged.

#include "settings_store.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const PortMapping mapping = SettingsStore::parsePortMapping(text);
    for (auto it = mapping.cbegin(); it != mapping.cend(); ++it) {
        const QString &port = it.key();
        if (port.contains(QLatin1Char('#')) || port.contains(QLatin1Char('_')) ||
            port != port.trimmed())
            __builtin_trap();
    }
    if (SettingsStore::parsePortMapping(SettingsStore::formatPortMapping(mapping)) != mapping)
        __builtin_trap();
    return 0;
}
